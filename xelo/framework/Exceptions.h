// The exception classes of the framework and the library.
//
// Every error the library reports is an xelo::Exception (a std::exception)
// carrying its message text; subclasses say what kind of failure it was.
// Catch by reference to the most specific class you handle.
#pragma once

#include "xelo/com/HResult.h"

#include <stdexcept>
#include <string>

namespace xelo {

class Exception : public std::exception {
 public:
  explicit Exception(std::string message) : message_(std::move(message)) {}
  const std::string& Message() const noexcept { return message_; }
  void SetMessage(std::string message) { message_ = std::move(message); }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

// Declares an exception class that only adds its kind.
#define XELO_DECLARE_EXCEPTION(Name, Base) \
  class Name : public Base {               \
   public:                                 \
    using Base::Base;                      \
  }

XELO_DECLARE_EXCEPTION(EConvertError, Exception);     // a text or value that cannot be converted
XELO_DECLARE_EXCEPTION(EListError, Exception);        // list index out of bounds and the like
XELO_DECLARE_EXCEPTION(EStringListError, EListError);
XELO_DECLARE_EXCEPTION(EInvalidOperation, Exception);
XELO_DECLARE_EXCEPTION(EComponentError, Exception);   // component naming and ownership errors
XELO_DECLARE_EXCEPTION(EPropertyError, Exception);    // unknown property, wrong kind, read-only
XELO_DECLARE_EXCEPTION(EStreamError, Exception);
XELO_DECLARE_EXCEPTION(EFileStreamError, EStreamError);
XELO_DECLARE_EXCEPTION(EFOpenError, EFileStreamError);    // a file that cannot be opened
XELO_DECLARE_EXCEPTION(EFCreateError, EFileStreamError);  // a file that cannot be created or written
XELO_DECLARE_EXCEPTION(EReadError, EStreamError);         // reading a stream or a component failed
XELO_DECLARE_EXCEPTION(EWriteError, EStreamError);
XELO_DECLARE_EXCEPTION(EClassNotFound, EReadError);       // FindClass: no class registered under that name
XELO_DECLARE_EXCEPTION(EParserError, Exception);          // the text form of components does not parse
XELO_DECLARE_EXCEPTION(ERegistryException, Exception);
XELO_DECLARE_EXCEPTION(EOleError, Exception);
// An object that does not offer an interface it was required to have.
XELO_DECLARE_EXCEPTION(EIntfCastError, Exception);
// An object taken as a class it is not of (CheckedCast, Persistent.h).
XELO_DECLARE_EXCEPTION(EInvalidCast, Exception);

// A COM failure: carries the result code and, as its message, the
// platform's text for that code.
class EOleSysError : public EOleError {
 public:
  EOleSysError(std::string message, HRESULT errorCode) : EOleError(std::move(message)), errorCode_(errorCode) {}
  HRESULT ErrorCode() const noexcept { return errorCode_; }

 private:
  HRESULT errorCode_;
};

// Raises EOleSysError for `hr` with the system text of the code.
[[noreturn]] void OleError(HRESULT hr);
// Returns when `hr` is a success code (also S_FALSE), else OleError(hr).
void OleCheck(HRESULT hr);

}  // namespace xelo
