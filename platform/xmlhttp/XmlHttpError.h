// Failures of the XML and HTTP layer. The desktop's XML and HTTP components
// reported them as COM errors; here they are thrown as XmlHttpError carrying
// an HRESULT-like code and a readable text. Callers put a request's steps in
// one try block and answer false from the catch.
#pragma once

#include <stdexcept>
#include <string>

#include "platform/kernel/WinTypes.h"

namespace platform::xmlhttp {

constexpr HRESULT kXmlNullNode = static_cast<HRESULT>(0x80004003u);       // a node that is not there
constexpr HRESULT kXmlBadQuery = static_cast<HRESULT>(0x80004005u);       // XPath that fails or yields no nodes
constexpr HRESULT kXmlReadOnly = static_cast<HRESULT>(0x80070005u);       // text of a node that has none to set
constexpr HRESULT kXmlBadText = static_cast<HRESULT>(0x80070057u);        // text to set that is not UTF-8
constexpr HRESULT kHttpNotSupported = static_cast<HRESULT>(0x80004001u);  // asynchronous request
constexpr HRESULT kHttpBadArgument = static_cast<HRESULT>(0x80070057u);   // bad method or header
constexpr HRESULT kHttpNotOpened = static_cast<HRESULT>(0x8000FFFFu);     // send before open
constexpr HRESULT kHttpNoAnswer = static_cast<HRESULT>(0x8000000Au);      // status before a send

// Network failures, with the codes the desktop's HTTP stack used.
constexpr HRESULT kHttpTimeout = static_cast<HRESULT>(0x80072EE2u);
constexpr HRESULT kHttpInvalidUrl = static_cast<HRESULT>(0x80072EE5u);
constexpr HRESULT kHttpUnrecognizedScheme = static_cast<HRESULT>(0x80072EE6u);
constexpr HRESULT kHttpNameNotResolved = static_cast<HRESULT>(0x80072EE7u);
constexpr HRESULT kHttpCannotConnect = static_cast<HRESULT>(0x80072EFDu);
constexpr HRESULT kHttpConnectionAborted = static_cast<HRESULT>(0x80072EFEu);
constexpr HRESULT kHttpSecureFailure = static_cast<HRESULT>(0x80072F8Fu);
constexpr HRESULT kHttpFailed = static_cast<HRESULT>(0x80004005u);  // any other transfer failure

class XmlHttpError : public std::runtime_error {
 public:
  XmlHttpError(HRESULT code, const std::string& text) : std::runtime_error(text), code_(code) {}
  HRESULT Code() const { return code_; }

 private:
  HRESULT code_;
};

}  // namespace platform::xmlhttp
