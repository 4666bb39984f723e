// Saving and loading the whole configuration of a server component (its
// settings, its groups with their settings, their items) as the text form
// of the component stream.
//
// The component stream in memory is the tree of TFormObject; the binary
// form is only one encoding of that tree, so both directions go straight
// between the tree and the text instead of detouring through the binary
// bytes. What the text holds, and in which order, is decided by the
// published properties of the server, group and item classes and by the
// framework's write rules (Filer.h); nothing here picks properties.
#include "xelo/core/XeloServer.h"

#include "xelo/core/XeloGroup.h"
#include "xelo/core/XeloStrings.h"
#include "xelo/framework/AtomicFile.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/Filer.h"
#include "xelo/framework/Streams.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/TextForm.h"
#include "xelo/framework/TypInfo.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace xelo {

namespace {

// How far into a file the class name is looked for. Only the header line
// has to be there; the limit keeps a large file of something else from
// being searched whole.
constexpr std::size_t kHeaderCheckLength = 299;
constexpr std::string_view kServerClassLower = "txeloserver";

// Whether the first bytes of a file, up to the first zero byte, name the
// server class in any capitalisation.
bool NamesServerClass(std::string_view file) {
  std::string head(file.substr(0, std::min(file.size(), kHeaderCheckLength)));
  if (const std::size_t zero = head.find('\0'); zero != std::string::npos) head.resize(zero);
  std::transform(head.begin(), head.end(), head.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return head.find(kServerClassLower) != std::string::npos;
}

// --- Bounds ----------------------------------------------------------------------
//
// The setters refuse values out of bounds themselves, but the reader calls
// them one after the other: by the time a bad rate in the fifth group is
// refused, the groups of the component are gone. Settings with bounds are
// therefore checked in the parsed text first, with the setters' own checks
// and the reader's way of naming the property, and a file with one out of
// bounds changes nothing.

// Only values of the right kind are checked here; the reader refuses the
// others, as it always did.
void IntegerIn(const TFlatValue& v, void (*check)(std::int64_t)) {
  if (v.Kind == TFormValueKind::Integer) check(v.Int);
}
void CheckRate(const TFlatValue& v) { IntegerIn(v, &TXeloGroup::CheckUpdateRate); }
void CheckBias(const TFlatValue& v) { IntegerIn(v, &TXeloGroup::CheckTimeBias); }
void CheckDelay(const TFlatValue& v) { IntegerIn(v, &TXeloServer::CheckConnectDelay); }
void CheckKeepAlive(const TFlatValue& v) { IntegerIn(v, &TXeloServer::CheckKeepAlive); }
void CheckReconnect(const TFlatValue& v) { IntegerIn(v, &TXeloServer::CheckReconnectInterval); }
void CheckReconnectMax(const TFlatValue& v) { IntegerIn(v, &TXeloServer::CheckReconnectMaxInterval); }
// NAN and INF read as doubles.
void CheckDeadBand(const TFlatValue& v) {
  if (v.Kind == TFormValueKind::Integer) TXeloGroup::CheckDeadBand(static_cast<double>(v.Int));
  if (v.Kind == TFormValueKind::Single || v.Kind == TFormValueKind::Double) TXeloGroup::CheckDeadBand(v.Float);
}

struct Bounded {
  std::string_view name;
  void (*check)(const TFlatValue&);
};
constexpr Bounded kServerBounds[] = {{"ConnectDelay", &CheckDelay},
                                     {"KeepAlive", &CheckKeepAlive},
                                     {"ReconnectInterval", &CheckReconnect},
                                     {"ReconnectMaxInterval", &CheckReconnectMax},
                                     {"OPCGroupDefault.UpdateRate", &CheckRate},
                                     {"OPCGroupDefault.DeadBand", &CheckDeadBand},
                                     {"OPCGroupDefault.TimeBias", &CheckBias}};
constexpr Bounded kGroupBounds[] = {{"UpdateRate", &CheckRate}, {"DeadBand", &CheckDeadBand}, {"TimeBias", &CheckBias}};

template <std::size_t N>
void CheckProperty(const Bounded (&bounds)[N], const std::string& className, const TFlatProperty& p) {
  for (const Bounded& b : bounds) {
    if (!SameText(p.Name, b.name)) continue;
    try {
      b.check(p.Value);
    } catch (const EPropertyError& e) {
      throw EReadError("Error reading " + className + "." + std::string(p.Name) + ": " + e.Message());
    }
    return;
  }
}

void CheckBounds(const TFlatForm& form, const TXeloServer& server) {
  const std::string& serverClass = server.ClassName();
  const std::string& groupClass = TXeloGroup::StaticClass()->ClassName();
  for (std::uint32_t i = form.Objects.front().FirstProperty; i != kFormNone; i = form.Properties[i].Next) {
    const TFlatProperty& p = form.Properties[i];
    if (p.Value.Kind != TFormValueKind::Collection) {
      CheckProperty(kServerBounds, serverClass, p);
    } else if (SameText(p.Name, "OPCGroups")) {
      for (std::uint32_t item = p.Value.First; item != kFormNone; item = form.Items[item].Next) {
        for (std::uint32_t j = form.Items[item].FirstProperty; j != kFormNone; j = form.Properties[j].Next) {
          CheckProperty(kGroupBounds, groupClass, form.Properties[j]);
        }
      }
    }
  }
}

// Written straight from the component into the text: a configuration of
// many items is never held as a tree on the way.
std::string ConfigurationText(TXeloServer& server) {
  std::string text;
  TFormTextWriter writer(text);
  WriteComponentForm(server, writer);
  return text;
}

}  // namespace

void TXeloServer::SaveToStream(TStream& Stream) {
  // The whole text is made before the first byte goes out, so a component
  // that cannot be written leaves the stream as it was.
  std::string text = ConfigurationText(*this);
  if (auto* memory = dynamic_cast<TMemoryStream*>(&Stream)) {
    memory->WriteOwned(std::move(text));
  } else {
    Stream.WriteBuffer(text);
  }
}

void TXeloServer::SaveToFile(const std::string& FileName) {
  // A configuration is often saved over the one it was loaded from; a
  // failure half-way must not cost the user both.
  WriteFileAtomically(FileName, ConfigurationText(*this));
}

void TXeloServer::LoadFromStream(TStream& Stream) {
  // Parsed whole first: a text that does not parse, or gives a setting a
  // value out of its bounds, changes nothing. The
  // reader then puts the component into the loading state, so ServerName
  // and ComputerName only store and Active only records, and Loaded
  // connects once at the end when the text said Active = True.
  // The parsed form points into the text, which therefore stays until the
  // form has been read.
  std::string copy;
  std::string_view text;
  if (auto* memory = dynamic_cast<TMemoryStream*>(&Stream)) {
    // Text already in memory is parsed where it lies rather than copied;
    // the stream ends up where reading it would have left it.
    const std::int64_t size = memory->GetSize();
    const std::int64_t position = std::min(memory->GetPosition(), size);
    text = std::string_view(static_cast<const char*>(memory->Memory()) + position,
                            static_cast<std::size_t>(size - position));
    memory->Seek(0, soEnd);
  } else {
    copy = Stream.ReadRemaining();
    text = copy;
  }
  const TFlatForm form = ParseFlatFormText(text);
  CheckBounds(form, *this);
  ReadComponentForm(form, *this);
}

void TXeloServer::LoadFromFile(const std::string& FileName) {
  TMemoryStream file;
  file.LoadFromFile(FileName);
  const std::string_view bytes(static_cast<const char*>(file.Memory()), static_cast<std::size_t>(file.GetSize()));
  // Base class on purpose: the file is not ours, no OPC operation failed.
  if (!NamesServerClass(bytes)) throw Exception(_STR_WRONGFILE);
  file.SetPosition(0);
  LoadFromStream(file);
}

}  // namespace xelo
