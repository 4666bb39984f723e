// The design-time registry: which component classes a design host offers
// on which palette page, which component editor serves a class, and which
// property editor serves a string property of a class. Libraries register
// here once (RegisterXeloDesign for this one); a design host, such as a Qt
// Designer plugin, lists the pages and classes, creates components for
// design, and asks for the editors when the user opens a context menu or
// presses the ellipsis button of a property.
//
// Registration is process-wide and lives until the program ends. Main
// thread only; no lock.
#pragma once

#include "xelo/design/ComponentEditor.h"
#include "xelo/design/StringProperty.h"
#include "xelo/framework/Persistent.h"

#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace xelo {

class TComponent;
class IDesigner;

using TComponentEditorFactory =
    std::function<std::unique_ptr<TComponentEditor>(TComponent& component, IDesigner& designer)>;
using TStringPropertyFactory = std::function<std::unique_ptr<TStringProperty>(
    std::vector<TPersistent*> components, const TPropInfo& prop, IDesigner& designer)>;

// --- The palette ------------------------------------------------------------

// Puts `classes` on the palette page `page` (created at the end when new),
// in this order, and registers them for creation by name (RegisterClass).
// A class already on the palette keeps its place, so registering again
// changes nothing. EInvalidOperation, with nothing put on the palette, for
// a class that cannot be created with an owner or whose name another class
// has taken.
void RegisterComponents(const std::string& page, std::initializer_list<TClass> classes);
// The pages in the order they were first registered.
std::vector<std::string> GetPalettePages();
// The classes on `page` in registration order; none for an unknown page.
std::vector<TClass> GetPaletteClasses(std::string_view page);

// Creates a component of the registered class `className` (FindClass:
// EClassNotFound when unknown) owned by `owner`, in the designing state
// (csDesigning, its owned components too), as a design host places one on
// a form. It is named after its class, less the leading "T", with the
// first free number: "XeloServer1", "XeloServer2", ...
TComponent* CreateForDesign(std::string_view className, TComponent& owner);
TComponent* CreateForDesign(TClass componentClass, TComponent& owner);

// --- Component editors --------------------------------------------------------

// The editor of `componentClass` and the classes derived from it; a later
// registration for the same class replaces the earlier one.
void RegisterComponentEditor(TClass componentClass, TComponentEditorFactory factory);
// The factory registered for the class or its nearest ancestor; empty when
// none is.
TComponentEditorFactory FindComponentEditor(TClass componentClass);
// A new editor for `component`, or null when its class has none.
std::unique_ptr<TComponentEditor> GetComponentEditor(TComponent& component, IDesigner& designer);

// --- Property editors ---------------------------------------------------------

// The editor of the string property `propertyName` of `componentClass` and
// of the classes derived from it; a later registration for the same class
// and name replaces the earlier one. EPropertyError when the class does not
// publish a string property of that name.
void RegisterPropertyEditor(TClass componentClass, const std::string& propertyName, TStringPropertyFactory factory);
// The factory registered for the property (case-insensitive) of the class
// or its nearest ancestor; empty when none is.
TStringPropertyFactory FindPropertyEditor(TClass componentClass, std::string_view propertyName);
// A new editor of `propertyName` for the selected `components`: the one
// registered for the first component's class when every component is of
// the class it was registered for; null otherwise (no component, no
// registration, or components it does not serve).
std::unique_ptr<TStringProperty> GetPropertyEditor(const std::vector<TPersistent*>& components,
                                                   std::string_view propertyName, IDesigner& designer);

}  // namespace xelo
