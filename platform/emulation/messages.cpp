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
        {ERROR_SUCCESS, u"The operation completed successfully.\r\n"},
        {ERROR_INVALID_FUNCTION, u"Incorrect function.\r\n"},
        {ERROR_FILE_NOT_FOUND, u"The system cannot find the file specified.\r\n"},
        {ERROR_PATH_NOT_FOUND, u"The system cannot find the path specified.\r\n"},
        {ERROR_ACCESS_DENIED, u"Access is denied.\r\n"},
        {ERROR_INVALID_HANDLE, u"The handle is invalid.\r\n"},
        {ERROR_NOT_ENOUGH_MEMORY, u"Not enough memory resources are available to process this command.\r\n"},
        {ERROR_INVALID_DATA, u"The data is invalid.\r\n"},
        {ERROR_SHARING_VIOLATION,
         u"The process cannot access the file because it is being used by another process.\r\n"},
        {ERROR_FILE_EXISTS, u"The file exists.\r\n"},
        {ERROR_INVALID_PARAMETER, u"The parameter is incorrect.\r\n"},
        {ERROR_INSUFFICIENT_BUFFER, u"The data area passed to a system call is too small.\r\n"},
        {ERROR_ENVVAR_NOT_FOUND, u"The system could not find the environment option that was entered.\r\n"},
        {ERROR_MORE_DATA, u"More data is available.\r\n"},
        {ERROR_NO_MORE_ITEMS, u"No more data is available.\r\n"},
        {ERROR_NOACCESS, u"Invalid access to memory location.\r\n"},
        {ERROR_SERVICE_DOES_NOT_EXIST, u"The specified service does not exist as an installed service.\r\n"},
        {ERROR_FAILED_SERVICE_CONTROLLER_CONNECT,
         u"The service process could not connect to the service controller.\r\n"},
        {ERROR_SERVICE_EXISTS, u"The specified service already exists.\r\n"},
        {ERROR_PRIVILEGE_NOT_HELD, u"A required privilege is not held by the client.\r\n"},
        {RPC_S_SERVER_UNAVAILABLE, u"The RPC server is unavailable.\r\n"},
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
