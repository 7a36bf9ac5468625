// The emulation's control surface, which the conformance program (tests/conformance)
// cannot ask Windows about: handle counting and idleness. The dispatcher's threads show
// in the service base's control table; fault injection in the publication table's
// chosen calls and in the fault sweep; the manual clock in the simulator's --stop-after
// lives.
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "platform/handles.h"
#include "platform/messages.h"
#include "tests/test_support.h"

namespace {

class Emulation : public EmulatedMachine {};

}  // namespace

// A misspelt operation would otherwise inject nothing, and its test pass without its fault.
TEST_F(Emulation, UnknownOperationIsRefused) {
    EXPECT_THROW(emu::FailCall("RegOpenKey", ERROR_ACCESS_DENIED), std::invalid_argument);
}

TEST_F(Emulation, EveryHandleIsCountedUntilClosed) {
    emu::CreateKey(u"SOFTWARE");
    HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HKEY key = nullptr;
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, u"SOFTWARE", 0, KEY_READ, &key), 0);
    HANDLE source = RegisterEventSourceW(nullptr, u"TestSvc");
    LPWSTR text = nullptr;
    ASSERT_NE(FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM, nullptr,
                             ERROR_ACCESS_DENIED, 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr),
              0u);
    EXPECT_EQ(emu::OpenHandleCount(), 4u);

    EXPECT_TRUE(CloseHandle(event));
    EXPECT_EQ(RegCloseKey(key), 0);
    EXPECT_TRUE(DeregisterEventSource(source));
    EXPECT_EQ(LocalFree(text), nullptr);
    EXPECT_EQ(emu::OpenHandleCount(), 0u);
}

// Idle means every counted thread waits on something only the outside can end.
TEST_F(Emulation, ProcessIsIdleOnlyWhileEveryOneOfItsThreadsWaits) {
    using namespace std::chrono_literals;
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    auto counted = std::make_unique<emu::ProcessThread>();
    EXPECT_FALSE(emu::WaitForIdle(0ms));  // counted, and not waiting
    std::thread waiter([&, counted = std::move(counted)]() mutable {
        WaitForSingleObject(event, INFINITE);
        counted.reset();
    });
    EXPECT_TRUE(emu::WaitForIdle());
    SetEvent(event);
    waiter.join();
    EXPECT_TRUE(emu::WaitForIdle(0ms));  // none left
    CloseHandle(event);
}
