#include "common/Error.h"

#include <cerrno>
#include <cstring>

namespace mirsalex {

Error Error::system(int err, const QString& path)
{
    const int number = err != 0 ? err : EIO;
    return Error{ErrorDomain::System, number, QString::fromLocal8Bit(std::strerror(number)), path};
}

} // namespace mirsalex
