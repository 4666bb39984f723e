/* Included ahead of widl's proxy and dlldata sources of the OPC proxy/stub
 * DLL (compiled as C). */
#include <rpc.h>
#include <unknwn.h>

/* The class ID under which the DLL registers its proxy/stub factory. Ours,
 * not one of the interface IDs (the generated default), so that
 * registering or unregistering this DLL never touches the class entry of
 * another vendor's proxy/stub DLL for the same interfaces. */
#define PROXY_CLSID_IS \
  {0x113E7348, 0xFFC8, 0x4470, {0x8F, 0x13, 0xDF, 0xD7, 0x28, 0x65, 0x57, 0x49}}

/* mingw-w64's unknwnbase.h declares these three only for C++, and the
 * generated vtables name them. */
HRESULT STDMETHODCALLTYPE IUnknown_QueryInterface_Proxy(IUnknown *This, REFIID riid, void **ppvObject);
ULONG STDMETHODCALLTYPE IUnknown_AddRef_Proxy(IUnknown *This);
ULONG STDMETHODCALLTYPE IUnknown_Release_Proxy(IUnknown *This);
