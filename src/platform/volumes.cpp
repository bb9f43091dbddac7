#include "platform/volumes.h"
