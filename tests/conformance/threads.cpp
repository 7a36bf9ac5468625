// Events, waits and the thread pool as the worker and OnStop use them: a manual-reset
// stopped event, a long-running work item, a wait without limit.
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

// A real-time pause that every platform's clock keeps: a wait that times out.
void Settle() {
    UniqueKernelHandle never(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    WaitForSingleObject(never.get(), settleMs);
}

struct Worker {
    HANDLE event = nullptr;    // what the work item waits on or signals
    HANDLE started = nullptr;  // set by the work item before it acts
    HANDLE finished = nullptr;
    void* context = nullptr;
    DWORD result = 0xEEEE;
    DWORD error = 0xEEEE;
};

DWORD WINAPI RecordContext(LPVOID context) {
    auto* worker = static_cast<Worker*>(context);
    worker->context = context;
    SetEvent(worker->finished);
    return 0;
}

DWORD WINAPI SignalAfterAPause(LPVOID context) {
    auto* worker = static_cast<Worker*>(context);
    SetEvent(worker->started);
    Settle();
    SetEvent(worker->event);
    SetEvent(worker->finished);
    return 0;
}

DWORD WINAPI WaitTwoSeconds(LPVOID context) {
    auto* worker = static_cast<Worker*>(context);
    SetEvent(worker->started);
    SetLastError(0xDEADBEEF);
    worker->result = WaitForSingleObject(worker->event, 2000);
    worker->error = GetLastError();
    SetEvent(worker->finished);
    return 0;
}

SRWLOCK transitionLock = SRWLOCK_INIT;

DWORD WINAPI TakeTheLock(LPVOID context) {
    auto* worker = static_cast<Worker*>(context);
    SetEvent(worker->started);
    AcquireSRWLockExclusive(&transitionLock);
    SetEvent(worker->finished);
    ReleaseSRWLockExclusive(&transitionLock);
    return 0;
}

// A fresh unsignalled event in place of one a work item has set.
void Renew(UniqueKernelHandle& event, HANDLE& workerEvent) {
    event.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    workerEvent = event.get();
}

}  // namespace

void ThreadQuestions(Answers& answers) {
    // The stopped event: manual reset, not signalled at first.
    UniqueKernelHandle manual(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    answers.Add("CreateEventW manual reset, not signalled", manual ? "ok" : "fail " + Number(GetLastError()));
    answers.Add("WaitForSingleObject of 0 ms on it", Waited(manual.get(), 0));
    answers.Add("WaitForSingleObject of 50 ms on it", Waited(manual.get(), 50));
    answers.Add("SetEvent", Outcome(SetEvent(manual.get())));
    answers.Add("WaitForSingleObject without limit once it is set", Waited(manual.get(), INFINITE));
    answers.Add("WaitForSingleObject of 0 ms again", Waited(manual.get(), 0));

    UniqueKernelHandle automatic(CreateEventW(nullptr, FALSE, TRUE, nullptr));
    answers.Add("WaitForSingleObject on an auto-reset event created signalled", Waited(automatic.get(), 0));
    answers.Add("WaitForSingleObject on it a second time", Waited(automatic.get(), 0));

    static Worker worker;  // outlives a work item that overstays its wait
    UniqueKernelHandle started(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    UniqueKernelHandle finished(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    worker.started = started.get();
    worker.finished = finished.get();
    SetLastError(0xDEADBEEF);
    answers.Add("QueueUserWorkItem of a long-running item",
                Outcome(QueueUserWorkItem(RecordContext, &worker, WT_EXECUTELONGFUNCTION)));
    const std::string ran = Waited(finished.get(), patienceMs);
    answers.Add("the work item ran, with its context",
                ran + (worker.context == &worker ? ", its context" : ", another context"));

    // OnStop's wait: the worker sets the event while the wait is under way.
    Renew(finished, worker.finished);
    UniqueKernelHandle stopped(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    worker.event = stopped.get();
    QueueUserWorkItem(SignalAfterAPause, &worker, WT_EXECUTELONGFUNCTION);
    WaitForSingleObject(started.get(), patienceMs);
    answers.Add("WaitForSingleObject without limit, set by another thread during the wait",
                Waited(stopped.get(), INFINITE));
    WaitForSingleObject(finished.get(), patienceMs);

    // The handle goes while another thread waits on it; the object stays until the wait
    // ends, so that wait runs its course.
    Renew(started, worker.started);
    Renew(finished, worker.finished);
    worker.event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    QueueUserWorkItem(WaitTwoSeconds, &worker, WT_EXECUTELONGFUNCTION);
    WaitForSingleObject(started.get(), patienceMs);
    Settle();
    answers.Add("CloseHandle of an event while another thread waits on it",
                Outcome(CloseHandle(worker.event)));
    WaitForSingleObject(finished.get(), patienceMs);
    answers.Add("that thread's wait of 2000 ms", worker.result == WAIT_FAILED
                                                     ? "WAIT_FAILED error " + Number(worker.error)
                                                     : Hex(worker.result));

    // The transitions' lock, held by one thread while another asks for it.
    Renew(started, worker.started);
    Renew(finished, worker.finished);
    AcquireSRWLockExclusive(&transitionLock);
    QueueUserWorkItem(TakeTheLock, &worker, WT_EXECUTELONGFUNCTION);
    WaitForSingleObject(started.get(), patienceMs);
    const std::string whileHeld = Waited(finished.get(), settleMs);
    ReleaseSRWLockExclusive(&transitionLock);
    answers.Add("an SRW lock asked for by another thread: its wait while held, then once released",
                whileHeld + ", " + Waited(finished.get(), patienceMs));

    const HANDLE closed = manual.release();
    answers.Add("CloseHandle of an event", Outcome(CloseHandle(closed)));
    SetLastError(unsetError);
    answers.Add("WaitForSingleObject on the closed handle", Waited(closed, 0));
}

}  // namespace conformance
