// ComLogicalLink creation shared by the link kinds: a resource-data template, one creation
// attempt and the runtime lookup of a resource id.
#pragma once

#include <cstdint>

#include "dpdu_api/pdu_api.h"

struct Template {
    PDU_PIN_DATA pins[4] = {};
    PDU_RSC_DATA data = {};
};

struct CreateContext {
    uint32_t hMod;
    Template* tmpl;
    uint8_t* flags;
    bool allowOrderProbe;
    uint32_t hCLL = 0;
};

constexpr uint32_t kRidUndef = 0xFFFFFFFEu;

// One PDUCreateComLogicalLink with the resource id, and with the template when useRscData (or
// for RID_UNDEF); the D-PDU result.
uint32_t TryCreateLink(CreateContext* c, uint32_t resourceId, bool useRscData);
// First resource id the module offers for the template; 0 when none (*failed tells a call
// error from an empty answer).
uint32_t DiscoverResourceId(uint32_t hMod, Template* t, bool* failed);
