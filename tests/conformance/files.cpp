// Files as the text log uses them: FindFirstFileW to see whether the log is there, the
// create-new open without sharing, the read-write open that shares reading, appending
// at the end, deleting; standard output and local time as the console and the log's
// timestamp use them. Everything happens in C:\Windows\System32, as for the log.
#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

const WCHAR* const path = scratchFile;
const WCHAR* const otherCase = TEXT("c:\\WINDOWS\\system32\\NOXEL-CONFORMANCE.LOG");
const WCHAR* const missing = TEXT("C:\\Windows\\System32\\noxel-conformance-missing.log");
const WCHAR* const inMissingDirectory = TEXT("C:\\Windows\\System32\\noxel-missing\\file.log");

std::string Opened(HANDLE file) {
    const DWORD error = GetLastError();
    return file == INVALID_HANDLE_VALUE ? "fail " + Number(error) : "ok last error " + Number(error);
}

// Opens, and keeps the handle in `file` for the questions that follow.
void Open(Answers& answers, const char* question, UniqueFile& file, const WCHAR* name, DWORD access,
          DWORD share, DWORD disposition) {
    SetLastError(0xDEADBEEF);
    file.reset(CreateFileW(name, access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr));
    answers.Add(question, Opened(file.get()));
}

void Open(Answers& answers, const char* question, const WCHAR* name, DWORD access, DWORD share,
          DWORD disposition) {
    UniqueFile file;
    Open(answers, question, file, name, access, share, disposition);
}

std::string Found(const WCHAR* name) {
    WIN32_FIND_DATAW found;
    SetLastError(0xDEADBEEF);
    UniqueFind find(FindFirstFileW(name, &found));
    return find ? "ok" : "fail " + Number(GetLastError());
}

std::string Deleted(const WCHAR* name) {
    SetLastError(0xDEADBEEF);
    return Outcome(DeleteFileW(name));
}

std::string Written(HANDLE file, const char* bytes, DWORD count) {
    DWORD written = 0xEEEE;
    SetLastError(0xDEADBEEF);
    const BOOL succeeded = WriteFile(file, bytes, count, &written, nullptr);
    return Outcome(succeeded) + " written " + Number(written);
}

}  // namespace

void FileQuestions(Answers& answers) {
    answers.Add("FindFirstFileW of a missing file", Found(missing));
    answers.Add("FindFirstFileW of a file in a missing directory", Found(inMissingDirectory));

    UniqueFile file;
    // The log's creation: write access, no sharing.
    Open(answers, "CreateFileW create-new, write, no sharing", file, path, GENERIC_WRITE, 0, CREATE_NEW);
    answers.Add("WriteFile of 6 bytes", Written(file.get(), "ab\0c\0d", 6));
    Open(answers, "CreateFileW read, sharing everything, while a handle shares nothing", path, GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    Open(answers, "CreateFileW of the path in another case, while a handle shares nothing", otherCase,
         GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING);
    answers.Add("DeleteFileW while a handle shares nothing", Deleted(path));
    answers.Add("CloseHandle of the file", Outcome(CloseHandle(file.release())));

    Open(answers, "CreateFileW create-new of an existing file", path, GENERIC_WRITE, 0, CREATE_NEW);
    Open(answers, "CreateFileW open-existing of a missing file", missing, GENERIC_READ, 0, OPEN_EXISTING);
    Open(answers, "CreateFileW open-existing in a missing directory", inMissingDirectory, GENERIC_READ, 0,
         OPEN_EXISTING);
    Open(answers, "CreateFileW create-new in a missing directory", inMissingDirectory, GENERIC_WRITE, 0,
         CREATE_NEW);
    answers.Add("FindFirstFileW of an existing file", Found(path));
    answers.Add("FindFirstFileW of an existing file, in another case", Found(otherCase));

    // The log's append: read and write, sharing reading; another writer is kept out.
    Open(answers, "CreateFileW open-existing, read and write, sharing reading", file, path,
         GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING);
    SetLastError(0xDEADBEEF);
    answers.Add("SetFilePointer to the end", Number(SetFilePointer(file.get(), 0, nullptr, FILE_END)));
    answers.Add("WriteFile of 4 bytes at the end", Written(file.get(), "efgh", 4));
    answers.Add("SetFilePointer to the end after the write",
                Number(SetFilePointer(file.get(), 0, nullptr, FILE_END)));
    Open(answers, "CreateFileW read, sharing reading and writing, beside it", path, GENERIC_READ,
         FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    Open(answers, "CreateFileW read, sharing reading only, beside it", path, GENERIC_READ, FILE_SHARE_READ,
         OPEN_EXISTING);
    Open(answers, "CreateFileW write, sharing reading and writing, beside it", path, GENERIC_WRITE,
         FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    answers.Add("DeleteFileW while a handle shares reading", Deleted(path));
    file.reset();

    Open(answers, "CreateFileW open-existing, read only", file, path, GENERIC_READ, FILE_SHARE_READ,
         OPEN_EXISTING);
    answers.Add("WriteFile through a handle opened for reading", Written(file.get(), "x", 1));
    file.reset();

    answers.Add("DeleteFileW of an existing file", Deleted(path));
    answers.Add("DeleteFileW of a missing file", Deleted(missing));
    answers.Add("DeleteFileW in a missing directory", Deleted(inMissingDirectory));
    answers.Add("FindFirstFileW of the deleted file", Found(path));
}

void ConsoleQuestions(Answers& answers) {
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    answers.Add("GetStdHandle of standard output",
                output == INVALID_HANDLE_VALUE || output == nullptr ? "no handle" : "a handle");

    // The console's conversion: a size query, then the conversion into that size.
    const WCHAR text[] = TEXT("Noxel_ALS_Service is installed.\n");
    const int length = lstrlenW(text);
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    answers.Add("WideCharToMultiByte size of 32 ASCII characters", Number(static_cast<unsigned long>(bytes)));
    char narrow[64];
    for (char& c : narrow) c = '#';
    const int converted = WideCharToMultiByte(CP_ACP, 0, text, length, narrow, bytes, nullptr, nullptr);
    bool same = converted == length && narrow[converted] == '#';
    for (int i = 0; same && i < length; ++i) same = narrow[i] == static_cast<char>(text[i]);
    answers.Add("WideCharToMultiByte of 32 ASCII characters",
                Number(static_cast<unsigned long>(converted)) +
                    (same ? " bytes, the same text, not terminated" : " bytes, another text"));
}

void TimeQuestions(Answers& answers) {
    SYSTEMTIME now;
    for (WORD* field : {&now.wYear, &now.wMonth, &now.wDayOfWeek, &now.wDay, &now.wHour, &now.wMinute,
                        &now.wSecond, &now.wMilliseconds})
        *field = 0xEEEE;
    GetLocalTime(&now);
    const bool inRange = now.wYear >= 2000 && now.wYear < 3000 && now.wMonth >= 1 && now.wMonth <= 12 &&
                         now.wDay >= 1 && now.wDay <= 31 && now.wHour < 24 && now.wMinute < 60 &&
                         now.wSecond < 60 && now.wMilliseconds < 1000;
    // Day of the week by Zeller's congruence, Sunday 0.
    const int month = now.wMonth < 3 ? now.wMonth + 12 : now.wMonth;
    const int year = now.wMonth < 3 ? now.wYear - 1 : now.wYear;
    const int weekday = (now.wDay + 13 * (month + 1) / 5 + year + year / 4 - year / 100 + year / 400 + 6) % 7;
    answers.Add("GetLocalTime: every field in its range, the weekday that of the date",
                std::string(inRange ? "yes" : "no") + ", " + (weekday == now.wDayOfWeek ? "yes" : "no"));
}

}  // namespace conformance
