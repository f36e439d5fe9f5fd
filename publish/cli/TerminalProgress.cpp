#include "cli/TerminalProgress.h"

#include "platform/StandardStreams.h"

#include <cstdio>


TerminalProgress::TerminalProgress() : shown_(platform::isTerminal(platform::StandardOutput)) {}

TerminalProgress::~TerminalProgress() { end(); }

void TerminalProgress::begin(int totalFiles, qint64 totalBytes)
{
    totalFiles_ = totalFiles;
    totalBytes_ = totalBytes;
    files_ = 0;
    bytes_ = 0;
    sinceDraw_.start();
}

void TerminalProgress::advance(qint64 bytes)
{
    ++files_;
    bytes_ += bytes;
    if (shown_ && sinceDraw_.elapsed() >= 200)
        draw();
}

void TerminalProgress::draw()
{
    constexpr qint64 MiB = 1024 * 1024;
    std::printf("\rrenewel-publish: %d of %d files, %lld of %lld MiB\033[K", files_, totalFiles_,
                static_cast<long long>(bytes_ / MiB), static_cast<long long>((totalBytes_ + MiB - 1) / MiB));
    std::fflush(stdout);
    drawn_ = true;
    sinceDraw_.restart();
}

void TerminalProgress::end()
{
    if (drawn_) {
        std::printf("\r\033[K");
        std::fflush(stdout);
        drawn_ = false;
    }
}
