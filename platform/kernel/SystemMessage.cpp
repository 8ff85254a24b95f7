#include "platform/kernel/SystemMessage.h"

#include <cstdint>

namespace {

struct Message {
  std::uint32_t code;
  const char* text;
};

// The codes the system's layers answer with.
constexpr Message kMessages[] = {
    {0x00000000u, "The operation completed successfully."},
    {0x80004001u, "Not implemented"},
    {0x80004002u, "No such interface supported"},
    {0x80004003u, "Invalid pointer"},
    {0x80004004u, "Operation aborted"},
    {0x80004005u, "Unspecified error"},
    {0x8000FFFFu, "Catastrophic failure"},
    {0x80070005u, "Access is denied."},
    {0x8007000Eu, "Not enough memory resources are available to complete this operation."},
    {0x80070057u, "The parameter is incorrect."},
    {0x80020003u, "Member not found."},
    {0x80020005u, "Type mismatch."},
    {0x80020006u, "Unknown name."},
    {0x80020009u, "Exception occurred."},
    {0x8002000Eu, "Invalid number of parameters."},
};

}  // namespace

bool FormatSystemMessage(HRESULT code, std::string* text) {
  for (const Message& message : kMessages) {
    if (message.code == static_cast<std::uint32_t>(code)) {
      if (text) *text = std::string(message.text) + "\r\n";
      return true;
    }
  }
  return false;
}
