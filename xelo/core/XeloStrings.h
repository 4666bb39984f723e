// The message texts of the core library.
//
// The _STR_ constants are public so that applications can report the same
// situations in the same words. Directives are filled with xelo::Format
// (SysUtils.h): %s with a text, %d with a signed decimal number, e.g.
//   Format(_STR_UNKNOWN, code)        -> "unknown error : -2147467259"
//   Format(_STR_GROUPEXITS, "Group1") -> "group Group1 already exists"
//
// They are plain character arrays rather than string_views so that they go
// straight into every place that takes a text: an exception's constructor,
// Format, std::string concatenation, a comparison with a caught message.
//
// The leading underscore is kept because these names are what applications
// written against this library already use.
#pragma once

namespace xelo {

// Any operation that needs the server connection while none is held.
inline constexpr char _STR_NOTACTIVE[] = "not connected to server";
// For applications whose call of XeloInitSecurity failed; the library
// itself never reports it.
inline constexpr char _STR_NODCOM[] = "Failed to initialize DCOM security";
// A read, write or refresh while the connection is lost (and until it is
// made anew).
inline constexpr char _STR_CONNECTIONLOST[] = "connection to OPC server lost";
// Activation with a server name that gives no class identifier.
inline constexpr char _STR_NOServer[] = "first define servername";
// %s server name, %s computer name. Offered to applications; unused here.
inline constexpr char _STR_NOREGISTER[] = "OPC Server %s not found on computer %s";
// Activation obtained no server object; %s is the server name.
inline constexpr char _STR_NOCONNECT[] = "Unable to connect to OPC server %s";
// The server offers no address-space browsing.
inline constexpr char _STR_NOBROWSER[] = "Browser interface not found";
// Per-item error text for a code without a text of its own; %d is the code
// as a signed 32-bit number.
inline constexpr char _STR_UNKNOWN[] = "unknown error : %d";
// Removing a group by a name no group has.
inline constexpr char _STR_GROUPNOTFOUND[] = "group not found";
// Adding a group under a name already used; %s is the name.
inline constexpr char _STR_GROUPEXITS[] = "group %s already exists";
// An item operation needs the item on the server and it is not there.
inline constexpr char _STR_NOSERVERHANDLE[] = "item %s not exists on OPCServer";
// Adding an item that is already on the server.
inline constexpr char _STR_HASSERVERHANDLE[] = "item %s already exists on OPCServer";
// Changing the identifier or access path of an item on the server.
inline constexpr char _STR_NOTPOSSIBLE[] = "not possible if connected to OPC Server";
// First line of the list of items a write failed for.
inline constexpr char _STR_WRITERROR[] = "cannot write Items:";
// First line of the list of items that could not be added.
inline constexpr char _STR_ADDITEMSERROR[] = "cannot add Items:";
// A configuration file whose start does not name the server class.
inline constexpr char _STR_WRONGFILE[] = "wrong fileformat";

// Fixed texts that applications have no reason to reuse, kept here so that
// every text the core reports is in one place.

// A browser asked to browse without a server component.
inline constexpr char kTextNoServerObject[] = "first define server object";
// Put before the text of a browsing error.
inline constexpr char kTextBrowserPrefix[] = "Browser: ";
// First line of a single item's error list.
inline constexpr char kTextOPCCommand[] = "OPC Command:";

}  // namespace xelo
