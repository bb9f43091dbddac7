// Placeholder until the fake volumes for tests are written.
#include "platform/volumes.h"
