#include "reading/log_record.h"

const char* const kFieldEnglishNames[kFieldCount] = {
    "time", "type", "location", "operation", "parameters", "description",
};
