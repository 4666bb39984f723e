// The library's own design-time registrations: the components on the
// palette page "OPC" (TXeloServer, TxeloServerBrowser, TXeloGUI, in this
// order), the property editor of TXeloServer's ServerName (TXeloProperty)
// and the component editor of TXeloServer (TXeloEditor). Design hosts call
// RegisterXeloDesign() before they list the palette; it registers once,
// however often it is called.
//
// Main thread only.
#pragma once

namespace xelo {

void RegisterXeloDesign();

}  // namespace xelo
