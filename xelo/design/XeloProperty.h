// The property editor of TXeloServer's ServerName: the text stays editable,
// and the ellipsis button opens the inspector on the server, where the user
// picks a server of this computer or of another. The inspector writes the
// text of its server box into ServerName when it closes; the editor then
// reports the property modified.
//
// Main thread only.
#pragma once

#include "xelo/design/StringProperty.h"

namespace xelo {

class TXeloProperty : public TStringProperty {
 public:
  using TStringProperty::TStringProperty;

  // Only paDialog: one server at a time, nothing to revert to.
  TPropertyAttributes GetAttributes() const override { return {paDialog}; }
  // Opens the inspector on the first component; EInvalidCast (nothing
  // opened, nothing reported) when it is not a TXeloServer.
  void Edit() override;
};

}  // namespace xelo
