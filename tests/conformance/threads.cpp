// Events, waits and the thread pool as the worker and OnStop use them: a manual-reset
// stopped event, a long-running work item, a wait without limit.
#include <functional>
#include <utility>

#include "tests/conformance/conformance.h"

namespace conformance {

namespace {

// Long enough that a wait is surely under way when another thread acts on its event.
constexpr DWORD settleMs = 500;
constexpr DWORD patienceMs = 10000;

std::string Waited(HANDLE handle, DWORD milliseconds) {
    const DWORD result = WaitForSingleObject(handle, milliseconds);
    return result == WAIT_FAILED ? "WAIT_FAILED error " + Number(GetLastError()) : Hex(result);
}

HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

// A real-time pause that every platform's clock keeps: a wait that times out.
void Settle() {
    UniqueKernelHandle never(NewEvent());
    WaitForSingleObject(never.get(), settleMs);
}

// What a long-running work item does, as the worker is queued: `started` is set before
// the body runs and `finished` after it.
struct Work {
    std::function<void()> body;
    HANDLE started = nullptr;
    HANDLE finished = nullptr;
    void* context = nullptr;
} work;  // outlives a work item that overstays its wait

DWORD WINAPI RunWork(LPVOID context) {
    work.context = context;
    SetEvent(work.started);
    work.body();
    SetEvent(work.finished);
    return 0;
}

}  // namespace

void ThreadQuestions(Answers& answers) {
    UniqueKernelHandle manual(NewEvent());  // manual reset, not signalled
    SetLastError(unsetError);
    const std::string timedOut = Waited(manual.get(), 50);
    answers.Add("WaitForSingleObject of 50 ms on it, and the last error after it",
                timedOut + ", " + Hex(GetLastError()));
    const std::string set = Outcome(SetEvent(manual.get()));
    const std::string first = Waited(manual.get(), INFINITE);
    answers.Add("SetEvent, then a wait without limit and one of 0 ms",
                set + ", " + first + ", " + Waited(manual.get(), 0));

    UniqueKernelHandle started, finished;
    const auto queue = [&](std::function<void()> body) {
        started.reset(NewEvent());
        finished.reset(NewEvent());
        work = {std::move(body), started.get(), finished.get(), nullptr};
        const std::string queued =
            Try([] { return QueueUserWorkItem(RunWork, &work, WT_EXECUTELONGFUNCTION); });
        WaitForSingleObject(started.get(), patienceMs);
        return queued;
    };
    const std::string queued = queue([] {});
    const std::string ran = Waited(finished.get(), patienceMs);
    answers.Add("QueueUserWorkItem of a long-running item, and its run, with its context",
                queued + ", " + ran + (work.context == &work ? ", its context" : ", another context"));

    // OnStop's wait: the worker sets the event while the wait is under way.
    UniqueKernelHandle stopped(NewEvent());
    queue([&] {
        Settle();
        SetEvent(stopped.get());
    });
    answers.Add("WaitForSingleObject without limit, set by another thread during the wait",
                Waited(stopped.get(), INFINITE));
    WaitForSingleObject(finished.get(), patienceMs);

    const HANDLE closing = NewEvent();
    static std::string waited;
    queue([closing] { waited = Waited(closing, 2000); });
    Settle();
    const std::string closed = Outcome(CloseHandle(closing));
    WaitForSingleObject(finished.get(), patienceMs);
    answers.Add("CloseHandle of an event while another thread waits on it, and that wait of 2000 ms",
                closed + ", " + waited);

    // The transitions' lock, held by one thread while another asks for it.
    static SRWLOCK transitionLock = SRWLOCK_INIT;
    AcquireSRWLockExclusive(&transitionLock);
    queue([] {
        AcquireSRWLockExclusive(&transitionLock);
        ReleaseSRWLockExclusive(&transitionLock);
    });
    const std::string whileHeld = Waited(finished.get(), settleMs);
    ReleaseSRWLockExclusive(&transitionLock);
    answers.Add("an SRW lock asked for by another thread: its wait while held, then once released",
                whileHeld + ", " + Waited(finished.get(), patienceMs));

    const HANDLE gone = manual.release();
    const std::string closedAfter = Outcome(CloseHandle(gone));
    SetLastError(unsetError);
    answers.Add("CloseHandle of an event, then a wait on the closed handle",
                closedAfter + ", " + Waited(gone, 0));
}

}  // namespace conformance
