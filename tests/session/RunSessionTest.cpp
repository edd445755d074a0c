#include "session/RunSession.h"

#include <gtest/gtest.h>
