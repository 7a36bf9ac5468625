// The system's message texts, for the error codes the service reports.
#include <map>

#include "platform/emulation/state.h"
#include "platform/memory.h"
#include "platform/messages.h"

using namespace emu;
using namespace emu::detail;

namespace {

// Word for word as Windows gives them.
const std::map<DWORD, std::u16string>& MessageTexts() {
    static const std::map<DWORD, std::u16string> texts = {
        {0, u"The operation completed successfully.\r\n"},
        {1, u"Incorrect function.\r\n"},
        {2, u"The system cannot find the file specified.\r\n"},
        {3, u"The system cannot find the path specified.\r\n"},
        {5, u"Access is denied.\r\n"},
        {6, u"The handle is invalid.\r\n"},
        {8, u"Not enough memory resources are available to process this command.\r\n"},
        {13, u"The data is invalid.\r\n"},
        {32, u"The process cannot access the file because it is being used by another process.\r\n"},
        {80, u"The file exists.\r\n"},
        {87, u"The parameter is incorrect.\r\n"},
        {122, u"The data area passed to a system call is too small.\r\n"},
        {203, u"The system could not find the environment option that was entered.\r\n"},
        {234, u"More data is available.\r\n"},
        {259, u"No more data is available.\r\n"},
        {998, u"Invalid access to memory location.\r\n"},
        {1060, u"The specified service does not exist as an installed service.\r\n"},
        {1063, u"The service process could not connect to the service controller.\r\n"},
        {1073, u"The specified service already exists.\r\n"},
        {1314, u"A required privilege is not held by the client.\r\n"},
        {1722, u"The RPC server is unavailable.\r\n"},
    };
    return texts;
}

}  // namespace

// Only FORMAT_MESSAGE_FROM_SYSTEM with FORMAT_MESSAGE_ALLOCATE_BUFFER is emulated.
DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID source, DWORD messageId, DWORD languageId, LPWSTR buffer,
                            DWORD size, va_list* args) {
    (void)source, (void)languageId, (void)size, (void)args;
    {
        State& s = Machine();
        std::lock_guard guard(s.lock);
        if (auto error = Fault(s, Operation::FormatMessageW)) return FailWith(*error, 0);
    }
    if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0 || (flags & FORMAT_MESSAGE_ALLOCATE_BUFFER) == 0 ||
        !buffer) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    auto it = MessageTexts().find(messageId);
    if (it == MessageTexts().end()) return FailWith(ERROR_MR_MID_NOT_FOUND, 0);
    const std::u16string& text = it->second;
    auto* memory = static_cast<LPWSTR>(LocalAlloc(LMEM_FIXED, (text.size() + 1) * sizeof(WCHAR)));
    if (!memory) return 0;
    text.copy(memory, text.size());
    memory[text.size()] = 0;
    *reinterpret_cast<LPWSTR*>(buffer) = memory;
    return static_cast<DWORD>(text.size());
}
