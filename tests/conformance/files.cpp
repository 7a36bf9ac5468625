// Files as the text log uses them, in C:\Windows\System32 as the log is; standard output
// and local time as the console and the log's timestamp use them.
#include <cstring>
#include <utility>

#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

const WCHAR* const path = scratchFile;
const WCHAR* const otherCase = TEXT("c:\\WINDOWS\\system32\\NOXEL-CONFORMANCE.LOG");
const WCHAR* const missing = TEXT("C:\\Windows\\System32\\noxel-conformance-missing.log");
const WCHAR* const inMissingDirectory = TEXT("C:\\Windows\\System32\\noxel-missing\\file.log");
constexpr DWORD shareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::string Open(const WCHAR* name, DWORD access, DWORD share, DWORD disposition,
                 UniqueFile* kept = nullptr) {
    SetLastError(unsetError);
    UniqueFile file(CreateFileW(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    const std::string outcome = file ? "ok last error " + Number(GetLastError()) : Outcome(FALSE);
    if (kept) *kept = std::move(file);
    return outcome;
}

std::string Found(const WCHAR* name) {
    WIN32_FIND_DATAW found;
    UniqueFind find;
    return Keep(find, [&] { return FindFirstFileW(name, &found); });
}

std::string Written(HANDLE file, const char* bytes, DWORD count) {
    DWORD written = 0xEEEE;
    const std::string outcome = Try([&] { return WriteFile(file, bytes, count, &written, nullptr); });
    return outcome + " written " + Number(written);
}

}  // namespace

void FileQuestions(Answers& answers) {
    const auto deleted = [](const WCHAR* name) { return Try([&] { return DeleteFileW(name); }); };
    answers.Add("FindFirstFileW of a missing file", Found(missing));

    UniqueFile file;
    // The log's creation: write access, no sharing.
    answers.Add("CreateFileW create-new, write, no sharing", Open(path, GENERIC_WRITE, 0, CREATE_NEW, &file));
    answers.Add("WriteFile of 6 bytes", Written(file.get(), "ab\0c\0d", 6));
    answers.Add("CreateFileW read, sharing everything, while a handle shares nothing",
                Open(path, GENERIC_READ, shareAll, OPEN_EXISTING));
    file.reset();

    answers.Add("CreateFileW create-new of an existing file", Open(path, GENERIC_WRITE, 0, CREATE_NEW));
    answers.Add("CreateFileW open-existing of a missing file", Open(missing, GENERIC_READ, 0, OPEN_EXISTING));
    answers.Add("CreateFileW create-new in a missing directory",
                Open(inMissingDirectory, GENERIC_WRITE, 0, CREATE_NEW));
    answers.Add("FindFirstFileW of an existing file", Found(path));
    answers.Add("FindFirstFileW of an existing file, in another case", Found(otherCase));

    // The log's append: read and write, sharing reading; another writer is kept out.
    answers.Add("CreateFileW open-existing, read and write, sharing reading",
                Open(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING, &file));
    answers.Add("SetFilePointer to the end", Number(SetFilePointer(file.get(), 0, nullptr, FILE_END)));
    const std::string appended = Written(file.get(), "efgh", 4);
    answers.Add("WriteFile of 4 bytes at the end, then SetFilePointer to the end",
                appended + ", " + Number(SetFilePointer(file.get(), 0, nullptr, FILE_END)));
    answers.Add("CreateFileW read, sharing reading and writing, beside it",
                Open(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    answers.Add("CreateFileW read, sharing reading only, beside it",
                Open(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING));
    answers.Add("CreateFileW write, sharing reading and writing, beside it",
                Open(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING));
    // The worker's delete of the log, while someone reads it and once nobody does.
    answers.Add("DeleteFileW while a handle shares reading", deleted(path));
    file.reset();
    answers.Add("DeleteFileW of an existing file", deleted(path));
    answers.Add("DeleteFileW of the deleted file", deleted(path));

    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    answers.Add("GetStdHandle of standard output",
                output == INVALID_HANDLE_VALUE || output == nullptr ? "no handle" : "a handle");

    SYSTEMTIME now;
    std::memset(&now, 0xEE, sizeof(now));
    GetLocalTime(&now);
    // The fields of the log's timestamp; the service reads no others.
    const bool inRange = now.wYear >= 2000 && now.wYear < 3000 && now.wMonth >= 1 && now.wMonth <= 12 &&
                         now.wDay >= 1 && now.wDay <= 31 && now.wHour < 24 && now.wMinute < 60 &&
                         now.wSecond < 60;
    answers.Add("GetLocalTime: every field of the timestamp in its range", inRange ? "yes" : "no");
}

}  // namespace conformance
