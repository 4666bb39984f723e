#include "xelo/design/DesignRegistry.h"

#include "xelo/framework/Component.h"
#include "xelo/framework/Exceptions.h"
#include "xelo/framework/SysUtils.h"
#include "xelo/framework/TypInfo.h"

#include <algorithm>
#include <utility>

namespace xelo {
namespace {

struct PalettePage {
  std::string name;
  std::vector<TClass> classes;
};

struct ComponentEditorEntry {
  TClass componentClass;
  TComponentEditorFactory factory;
};

struct PropertyEditorEntry {
  TClass componentClass;
  std::string propertyName;
  TStringPropertyFactory factory;
};

struct Registry {
  std::vector<PalettePage> pages;
  std::vector<ComponentEditorEntry> componentEditors;
  std::vector<PropertyEditorEntry> propertyEditors;
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

bool OnPalette(TClass cls) {
  for (const PalettePage& page : TheRegistry().pages) {
    if (std::find(page.classes.begin(), page.classes.end(), cls) != page.classes.end()) return true;
  }
  return false;
}

// How many classes lie between `cls` and its ancestor `ancestor` (0: the
// class itself); the nearest registration is the one that serves.
int Distance(TClass cls, TClass ancestor) {
  int steps = 0;
  for (TClass c = cls; c != nullptr; c = c->ClassParent(), ++steps) {
    if (c == ancestor) return steps;
  }
  return -1;
}

template <class Entry, class Match>
const Entry* Nearest(const std::vector<Entry>& entries, TClass cls, Match match) {
  const Entry* best = nullptr;
  int bestDistance = -1;
  for (const Entry& entry : entries) {
    const int distance = Distance(cls, entry.componentClass);
    if (distance < 0 || !match(entry)) continue;
    if (best == nullptr || distance < bestDistance) {
      best = &entry;
      bestDistance = distance;
    }
  }
  return best;
}

const PropertyEditorEntry* NearestPropertyEditor(TClass cls, std::string_view propertyName) {
  return Nearest(TheRegistry().propertyEditors, cls,
                 [&](const PropertyEditorEntry& entry) { return SameText(entry.propertyName, propertyName); });
}

// The design host's default name: the class name less its "T", numbered
// from 1 so that it is unique among the owner's components.
std::string DesignName(const TComponent& owner, TClass cls) {
  std::string base = cls->ClassName();
  if (base.size() > 1 && (base[0] == 'T' || base[0] == 't')) base.erase(0, 1);
  for (int n = 1;; ++n) {
    std::string name = base + std::to_string(n);
    if (owner.FindComponent(name) == nullptr) return name;
  }
}

}  // namespace

void RegisterComponents(const std::string& page, std::initializer_list<TClass> classes) {
  for (TClass cls : classes) {
    if (cls == nullptr || !cls->CanCreateComponent()) {
      throw EInvalidOperation("Cannot register " + (cls == nullptr ? std::string("nil") : cls->ClassName()) +
                              " as a component");
    }
  }
  // By name first: a name taken by another class stops here, before the
  // palette shows anything it could not create.
  for (TClass cls : classes) RegisterClass(cls);
  std::vector<PalettePage>& pages = TheRegistry().pages;
  auto found = std::find_if(pages.begin(), pages.end(), [&](const PalettePage& p) { return p.name == page; });
  if (found == pages.end()) {
    pages.push_back({page, {}});
    found = pages.end() - 1;
  }
  for (TClass cls : classes) {
    if (!OnPalette(cls)) found->classes.push_back(cls);
  }
}

std::vector<std::string> GetPalettePages() {
  std::vector<std::string> names;
  for (const PalettePage& page : TheRegistry().pages) names.push_back(page.name);
  return names;
}

std::vector<TClass> GetPaletteClasses(std::string_view page) {
  for (const PalettePage& p : TheRegistry().pages) {
    if (p.name == page) return p.classes;
  }
  return {};
}

TComponent* CreateForDesign(std::string_view className, TComponent& owner) {
  return CreateForDesign(FindClass(className), owner);
}

TComponent* CreateForDesign(TClass componentClass, TComponent& owner) {
  TComponent* component = componentClass->CreateComponent(owner);
  // Designing before anything else happens to it, so that it only stores
  // what the designer sets (a binding component then never hooks a server).
  component->SetDesigning(true);
  component->SetName(DesignName(owner, componentClass));
  return component;
}

void RegisterComponentEditor(TClass componentClass, TComponentEditorFactory factory) {
  std::vector<ComponentEditorEntry>& editors = TheRegistry().componentEditors;
  for (ComponentEditorEntry& entry : editors) {
    if (entry.componentClass == componentClass) {
      entry.factory = std::move(factory);
      return;
    }
  }
  editors.push_back({componentClass, std::move(factory)});
}

TComponentEditorFactory FindComponentEditor(TClass componentClass) {
  const ComponentEditorEntry* entry =
      Nearest(TheRegistry().componentEditors, componentClass, [](const ComponentEditorEntry&) { return true; });
  return entry != nullptr ? entry->factory : TComponentEditorFactory();
}

std::unique_ptr<TComponentEditor> GetComponentEditor(TComponent& component, IDesigner& designer) {
  const TComponentEditorFactory factory = FindComponentEditor(component.ClassType());
  return factory ? factory(component, designer) : nullptr;
}

void RegisterPropertyEditor(TClass componentClass, const std::string& propertyName, TStringPropertyFactory factory) {
  const TPropInfo* prop = GetPropInfo(componentClass, propertyName);
  if (prop == nullptr || prop->Kind() != tkString) {
    throw EPropertyError(componentClass->ClassName() + " has no string property " + propertyName);
  }
  std::vector<PropertyEditorEntry>& editors = TheRegistry().propertyEditors;
  for (PropertyEditorEntry& entry : editors) {
    if (entry.componentClass == componentClass && SameText(entry.propertyName, propertyName)) {
      entry.factory = std::move(factory);
      return;
    }
  }
  editors.push_back({componentClass, propertyName, std::move(factory)});
}

TStringPropertyFactory FindPropertyEditor(TClass componentClass, std::string_view propertyName) {
  const PropertyEditorEntry* entry = NearestPropertyEditor(componentClass, propertyName);
  return entry != nullptr ? entry->factory : TStringPropertyFactory();
}

std::unique_ptr<TStringProperty> GetPropertyEditor(const std::vector<TPersistent*>& components,
                                                   std::string_view propertyName, IDesigner& designer) {
  if (components.empty() || components.front() == nullptr) return nullptr;
  const PropertyEditorEntry* entry = NearestPropertyEditor(components.front()->ClassType(), propertyName);
  if (entry == nullptr) return nullptr;
  for (const TPersistent* component : components) {
    if (component == nullptr || !component->InheritsFrom(entry->componentClass)) return nullptr;
  }
  return entry->factory(components, *GetPropInfo(entry->componentClass, entry->propertyName), designer);
}

}  // namespace xelo
