// Writing a component with its published properties to the component
// stream, and reading it back into an existing component.
//
// What is written for each component (the root, then the children its
// GetChildren gives, as nested objects): the class name, the Name as the
// object's name (not as a property), and its published properties in
// declaration order, the framework's own first:
//   - integer, Boolean, enumeration, char and 64-bit properties: always when
//     the property declares no default, else only when the value differs;
//     sets likewise;
//   - texts only when not empty, floats only when not zero, variants only
//     when not empty (as a number, a text, or the identifiers Null, True,
//     False; dates, currencies and decimals as their number, which reads
//     back as a double; integers read back as VT_I4 when they fit, else
//     VT_I8; a variant of another type, an array say, raises EWriteError);
//   - collections always (even empty), each item with its own properties;
//   - nested persistent objects, and subcomponents owned by the object that
//     publishes them, as the dotted lines of their properties
//     ("Settings.Rate");
//   - component references (an object property with a setter whose value is
//     a component) as the referenced component's name: "Name" for a
//     component of the root, "A.B" for one further down, the root's own
//     name for the root, "Form2.Button1" (the path from its topmost owner)
//     for one outside the root; nothing when a name on the way is empty;
//   - never: read-only properties (other than nested objects and
//     collections), properties whose `stored` option says no, events.
//
// Reading into an existing root (ReadComponent):
//   - the stream is decoded completely first; a corrupt stream changes
//     nothing;
//   - the root and every component it owns (at any depth) are put into
//     csLoading and csReading; so is every component created while reading;
//   - outside csDesigning the root takes the stream's object name as its
//     Name (normal naming rules, EComponentError); in csDesigning its Name
//     stays. The root's class is not compared with the stream's;
//   - properties are set through their setters; dotted names go through the
//     nested objects' getters; properties the stream does not mention keep
//     their values;
//   - a collection written with items is cleared and refilled (between
//     BeginUpdate and EndUpdate); a collection written empty is untouched;
//   - a child object is matched by name among the components of the
//     enclosing component's GetChildOwner() (null: the root); when there is
//     none it is created by its registered class (RegisterClass) with that
//     owner and named; a matched component must be of the written class or
//     derive from it;
//   - component references are resolved after everything was read: the
//     first name is looked up among the root's components (or is the root's
//     own name), each further name among the components of the previous;
//   - then csReading ends and Loaded() is called once on each component in
//     the loading state: in the order they were put into it (the root's
//     tree first, depth first, then created components in reading order),
//     except that the root comes last. An exception from a Loaded does not
//     stop the others; the first one is raised afterwards.
// Errors: EReadError "Error reading <Class>.<Property>: <reason>" for an
// unknown property ("Property X does not exist"), a value of the wrong kind,
// a value out of range, an unknown enumeration name or set element, a
// read-only property, an event, an unresolved reference; EClassNotFound for
// a child of an unregistered class. An exception raised by a setter keeps
// its class and gets the same "Error reading ..." prefix. Properties set
// before the error stay set, children completely read stay, a child created
// for the object that failed is destroyed, no Loaded() is called, and the
// loading states are cleared.
//
// Thread: the main thread.
#pragma once

#include "xelo/framework/ComponentStream.h"

namespace xelo {

class TComponent;
class TStream;

// The stored data of `root` and its children as form events, in the order
// described above. When writing raises, the sink has had only part of the
// events: whoever collects them discards what it has.
void WriteComponentForm(TComponent& root, TFormSink& sink);
// The same as a tree.
TFormObject ComponentToForm(TComponent& root);
// Applies a form to `root` as ReadComponent describes.
void ReadComponentForm(const TFlatForm& form, TComponent& root);
void ReadComponentForm(const TFormObject& form, TComponent& root);
// Reads the child objects of `form` into `root`'s components (matched by
// name, created when missing) as ReadComponentForm does, but leaves the
// root and its other components alone: the root's name and properties are
// not read, and only the components the form names (with what they own)
// and those it creates are loading and get Loaded(). References still
// resolve among all of the root's components. For changing some
// components of a live form without reloading the others.
void ReadComponentsIntoForm(const TFormObject& form, TComponent& root);

// Writes `root` in the binary component form at the stream's position.
void WriteComponent(TStream& stream, TComponent& root);
// Reads one binary component form from the stream's position into `root`.
void ReadComponent(TStream& stream, TComponent& root);

}  // namespace xelo
