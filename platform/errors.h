#pragma once
// The recorded error: a number and a description, one per thread. The
// program's own is the main thread's; a worker that asks the file system
// ahead hands each of its failures over with its answer.
//
// A failing operation replaces it and raises `Failure`. The three failure
// modes are written at the call site:
//   trap               try { ... } catch (const Failure&) { report(); }
//   record-and-continue  resumeNext([&] { step(); });
//   ignore-failures      the same as record-and-continue
// Putting a procedure into a mode clears the recorded error (clearError()).

#include <QString>
#include <cstdint>
#include <exception>

namespace platform {

// Error numbers the program knows by name.
enum ErrorNumber : int32_t {
    ErrInvalidCall = 5,
    ErrOverflow = 6,
    ErrSubscript = 9,
    ErrBadFileName = 52,
    ErrFileNotFound = 53,
    ErrDeviceIO = 57,
    ErrDiskFull = 61,
    ErrDeviceUnavailable = 68,
    ErrPermissionDenied = 70,
    ErrDiskNotReady = 71,
    ErrPathFileAccess = 75,
    ErrPathNotFound = 76,
};

struct RecordedError {
    int32_t number = 0;
    QString description;
};

// The recorded error of this thread.
RecordedError& Err();
void clearError();

// The Portuguese description of an error number.
QString describe(int32_t number);

class Failure : public std::exception {
public:
    explicit Failure(int32_t n) : number(n) {}
    const char* what() const noexcept override { return "platform::Failure"; }
    int32_t number;
};

// Records the error and raises it as a Failure.
[[noreturn]] void raiseError(int32_t number);

// What a host error means for the program. A missing entry is "file not found"
// unless the caller knows it was looking for a directory or a path on the way.
enum class Missing { File, Path };
int32_t errorFromErrno(int err, Missing missing = Missing::Path);
[[noreturn]] void raiseErrno(int err, Missing missing = Missing::Path);

// Runs one step in record-and-continue mode: a failure stays recorded and the
// caller goes on. Returns whether the step succeeded.
template <class Step> bool resumeNext(Step&& step) {
    try {
        step();
        return true;
    } catch (const Failure&) {
        return false;
    }
}

// Keeps this thread's recorded error as it was for the length of a scope:
// what a step on the side records (a query whose failure is an answer, a
// second look at a file) does not count as the run's error.
class KeepRecordedError {
public:
    KeepRecordedError() : m_saved(Err()) {}
    ~KeepRecordedError() { Err() = m_saved; }
    KeepRecordedError(const KeepRecordedError&) = delete;
    KeepRecordedError& operator=(const KeepRecordedError&) = delete;

private:
    RecordedError m_saved;
};

} // namespace platform
