#include "platform/FileDescriptor.h"

#include <unistd.h>

bool FileDescriptor::close()
{
    if (fd_ < 0)
        return true;
    return ::close(std::exchange(fd_, -1)) == 0;
}
