// The README's first example: create an OPC server by its ProgID through the
// COM layer and print its status. The embedded simulation server is linked
// in, so this runs anywhere.
#include "xelo/com/Com.h"
#include "xelo/opc/Opc.h"

#include <cstdio>

using xelo::com::ComPtr;

int main(int argc, char** argv) {
  // The main thread joins COM (CoInitializeEx), as every COM program's does.
  const xelo::com::ComApartment apartment;
  const xelo::com::OleString progId = xelo::com::ToUtf16(argc > 1 ? argv[1] : "Xelo.Sim.1");
  CLSID clsid;
  if (FAILED(xelo::com::ClassIdFromProgId(progId.c_str(), &clsid))) {
    std::fprintf(stderr, "no class is registered under that ProgID\n");
    return 1;
  }
  ComPtr<IOPCServer> server;
  const HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_ALL, IID_IOPCServer, server.PutVoid());
  if (FAILED(created)) {
    std::fprintf(stderr, "%s\n", xelo::com::SystemMessageText(created).c_str());
    return 1;
  }
  OPCSERVERSTATUS* status = nullptr;
  const HRESULT hr = server->GetStatus(&status);
  if (FAILED(hr)) {
    std::fprintf(stderr, "%s\n", xelo::com::SystemMessageText(hr).c_str());
    return 1;
  }
  std::printf("state %u, version %u.%u.%u, vendor %s\n", static_cast<unsigned>(status->dwServerState),
              status->wMajorVersion, status->wMinorVersion, status->wBuildNumber,
              xelo::com::ToUtf8(status->szVendorInfo).c_str());
  CoTaskMemFree(status->szVendorInfo);
  CoTaskMemFree(status);
  return 0;
}
