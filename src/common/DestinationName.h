#pragma once

namespace mirsalex {

// What the caller of a copy knows of its destination's name: nothing, or
// whether the folder held the name when the caller listed it. The folder may
// have changed since: the copy is as safe either way; knowing spares a look
// (a copy to a name not listed is made without a name at once, one to a
// listed name with a temporary name).
enum class DestinationName
{
    Unknown,
    Listed,
    NotListed,
};

} // namespace mirsalex
