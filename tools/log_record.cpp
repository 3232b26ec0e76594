#include "log_record.h"

const char16_t* const kFieldElementNames[kFieldCount] = {
    u"时间", u"类型", u"位置", u"操作", u"参数", u"描述",
};

const char* const kFieldEnglishNames[kFieldCount] = {
    "time", "type", "location", "operation", "parameters", "description",
};
