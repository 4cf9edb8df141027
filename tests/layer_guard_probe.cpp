// Must not compile: net sits below update, so it may not include update's headers.
#include "update/update_keys.h"
