// From a logical-link name to a D-PDU resource id: the name's classification and the
// mapping through the configured resource ids.
#pragma once

#include <cstdint>
#include <string>

struct LinkKind {
    bool ls = false;
    bool iso15765 = false;
    bool iso15765Fd = false;
    bool canFd = false;
    bool can = false;
    bool kwpOnCan = false;
    bool kLine = false;
    bool doip = false;
    bool kwpInName = false;
};

LinkKind ClassifyLinkName(const std::string& name);
// 0 and 0xFFFFFFFF mean "not configured".
bool ResourceIdConfigured(uint32_t id);
// Maps the kind to a resource id, logging the rule used; false with *error when none applies.
bool MapResourceId(const LinkKind& kind, const std::string& name, uint32_t* resourceId, std::string* error);
