// FT4 parameter set of the Costas frame search (sync/ft8_sync.hpp).
#pragma once

#include "sync/ft8_sync.hpp"
