#pragma once

// GoogleTest's configuration for the cross build (on the include path of
// gtest, gmock and the test programs there, ahead of GoogleTest's own empty
// one; the native build uses the installed GoogleTest unchanged).
//
// Under wine 8, a 32-bit process that exits while a thread it created is still
// starting is now and then killed by wine's own signal handler (SEGFAULT
// after "[  PASSED  ]"). Thread-safe GoogleTest on Windows starts such a
// thread the first time a thread uses its per-thread state (SCOPED_TRACE,
// EXPECT_CALL, a failure): the watcher of ThreadLocal. Our tests use
// GoogleTest from one thread only, so here it is built without thread support
// and the test programs start no thread of their own.

#define GTEST_IS_THREADSAFE 0

#ifdef _WIN32
// GoogleTest's Windows death tests cannot be turned off and need AutoHandle,
// which it defines only when thread-safe. Ours use none, but they must
// compile.
extern "C" __declspec(dllimport) int __stdcall CloseHandle(void* handle);

namespace testing {
namespace internal {

class AutoHandle {
public:
    using Handle = void*;
    AutoHandle() = default;
    explicit AutoHandle(Handle handle) : handle_(handle) {}
    ~AutoHandle() { Reset(); }
    AutoHandle(const AutoHandle&) = delete;
    AutoHandle& operator=(const AutoHandle&) = delete;

    Handle Get() const { return handle_; }
    void Reset() { Reset(Invalid()); }
    void Reset(Handle handle)
    {
        if (handle_ != handle) {
            if (handle_ != nullptr && handle_ != Invalid()) {
                CloseHandle(handle_);
            }
            handle_ = handle;
        }
    }

private:
    // INVALID_HANDLE_VALUE
    static Handle Invalid() { return reinterpret_cast<Handle>(-1); }

    Handle handle_ = Invalid();
};

}  // namespace internal
}  // namespace testing
#endif  // _WIN32
