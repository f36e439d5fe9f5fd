#pragma once
// An open native file that is closed when its owner goes.

#include "platform/FileIO.h"

#include <utility>

class FileDescriptor {
public:
    FileDescriptor() = default;
    explicit FileDescriptor(NativeFile fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(FileDescriptor&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    FileDescriptor& operator=(FileDescriptor&& other) noexcept
    {
        if (this != &other) {
            close();
            fd_ = std::exchange(other.fd_, -1);
        }
        return *this;
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    bool isOpen() const { return fd_ >= 0; }
    NativeFile fd() const { return fd_; }
    // Gives the file up to the caller, who closes it.
    NativeFile release() { return std::exchange(fd_, -1); }
    // Closes the file; false when closing reports an error (a write that failed late).
    bool close();

private:
    NativeFile fd_ = -1;
};
