// Find input and lookup (see tag_find.h).
#include "tagbench/tag_find.h"

#include "tagbench/grid_format.h"
#include "tagbench/tag_history.h"

const char kTagIdInputMessage[] = "请输入标签号（0 - 4294967295）";

bool ParseTagId(const char *text, uint32_t *id)
{
    if (text == nullptr)
        return false;
    while (*text == ' ' || *text == '\t')
        ++text;
    uint64_t value = 0;
    int digits = 0;
    for (; *text >= '0' && *text <= '9'; ++text, ++digits) {
        value = value * 10 + static_cast<uint64_t>(*text - '0');
        if (value > UINT32_MAX)
            return false;
    }
    while (*text == ' ' || *text == '\t')
        ++text;
    if (digits == 0 || *text != '\0')
        return false;
    *id = static_cast<uint32_t>(value);
    return true;
}

std::string TagNotFoundMessage(uint32_t id)
{
    return "未找到标签 " + std::to_string(id);
}

bool LocateTag(uint32_t id, TagLocation *out)
{
    const int index = FindTagIndex(id);
    if (index < 0)
        return false;
    out->index = index;
    out->page = index / kGridRowsPerPage;
    return true;
}
