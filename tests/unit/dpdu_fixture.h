// Shared set-up of the D-PDU backend tests: a copy of the simulated VCI in a fresh folder with
// its scenario and trace, the driver log in the same folder, the configuration saved and
// restored, and the backend's fixed pauses recorded instead of slept.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "driver/config/driver_config.h"
#include "driver/dpdu/backend_state.h"
#include "driver/dpdu/dpdu_backend.h"
#include "platform/platform.h"
#include "tests/support/scoped_log.h"
#include "tests/support/temp_dir.h"

inline std::vector<uint32_t>& RecordedPauses() {
    static std::vector<uint32_t> pauses;
    return pauses;
}
inline void RecordPause(uint32_t ms) { RecordedPauses().push_back(ms); }

// A backend call as the tests read it: true on success, and its text in *error.
inline bool Ok(const DpduResult& result, std::string* error) {
    if (error) *error = result.text;
    return result.ok();
}

inline size_t CountOf(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t pos = text.find(part); pos != std::string::npos; pos = text.find(part, pos + part.size())) ++n;
    return n;
}

class DpduTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = g_config;
        ResetBackendForTests();
        RecordedPauses().clear();
        g_backend.sleep = &RecordPause;
        g_config.BackendTypeSet = true;
        g_config.BackendTypeName = "Orvex";
        g_config.Backend = BackendType::Orvex;
        g_config.DeviceDisplayName.clear();
        g_config.DeviceFilter = {};
        Dpdu_SetKeepToolkitLoaded(false);
        g_config.DpduSettings.ModuleProbeQuickAttempts = 2;
        g_config.DpduSettings.ModuleProbeSlowAttempts = 2;
        g_config.DpduSettings.ModuleProbeReinitAttempts = 2;
        session_ = SessionProfile{};
    }

    void TearDown() override {
        Dpdu_SetKeepToolkitLoaded(false);
        for (int i = 0; i < 8 && Dpdu_IsInitialised(); ++i) Dpdu_Shutdown();
        g_config = saved_;
        g_backend.sleep = &platform::SleepMs;
    }

    // Copies bin/<library> into a fresh folder as VciSim<suffix>, with a VciSim.ini made of
    // "Trace=trace.txt" and iniText, and points the configuration at it.
    void UseScenario(const std::string& name, const std::string& iniText, const std::string& library = "VciSim") {
        const std::string suffix = platform::SharedLibrarySuffix();
        dir_ = MakeScenarioDir(name);
        dllName_ = "VciSim" + suffix;
        ASSERT_TRUE(CopyFileTo(JoinPath(TestBinDir(), library + suffix), JoinPath(dir_, dllName_)));
        ASSERT_TRUE(platform::WriteWholeFile(JoinPath(dir_, "VciSim.ini"), "[General]\nTrace=trace.txt\n" + iniText));
        g_config.DpduSettings.DllName = dllName_;
        g_config.DpduSettings.DllPath = dir_;
        g_config.DpduLibraryPath = JoinPath(dir_, dllName_);
        log_.To(JoinPath(dir_, "driver.log"));
    }

    std::string Log() const { return ReadFileText(JoinPath(dir_, "driver.log")); }
    std::string Trace() const { return ReadFileText(JoinPath(dir_, "trace.txt")); }

    // Init and module open; 0 (with a test failure) when either fails.
    uint32_t InitAndOpenModule() {
        std::string error;
        if (!Ok(Dpdu_Init(), &error)) {
            ADD_FAILURE() << "Dpdu_Init: " << error;
            return 0;
        }
        uint32_t moduleId = 0;
        if (!Ok(Dpdu_OpenModule(&moduleId), &error)) {
            ADD_FAILURE() << "Dpdu_OpenModule: " << error;
            return 0;
        }
        return moduleId;
    }

    uint32_t OpenLink(uint32_t moduleId, const std::string& name, uint32_t protocolId = 6) {
        std::string error;
        uint32_t linkId = 0;
        if (!Ok(Dpdu_OpenLink(moduleId, name, protocolId, &linkId), &error)) ADD_FAILURE() << "Dpdu_OpenLink: " << error;
        return linkId;
    }

    // How the sends of the test's session go.
    DpduSendMode SendMode() const { return DpduSendModeFor(session_); }
    // A receive into a vector, for the tests' comparisons.
    static DpduResult Receive(uint32_t linkId, std::vector<uint8_t>* data, uint32_t timeoutMs) {
        DpduPayload payload;
        const DpduResult result = Dpdu_Receive(linkId, &payload, timeoutMs);
        data->assign(payload.bytes, payload.bytes + payload.kept());
        return result;
    }
    bool Send(uint32_t linkId, const std::vector<uint8_t>& bytes, uint32_t timeoutMs = 100,
              std::string* error = nullptr) {
        return Ok(Dpdu_Send(linkId, bytes.data(), static_cast<uint32_t>(bytes.size()), timeoutMs, SendMode()), error);
    }

    DriverConfig saved_;
    SessionProfile session_;
    ScopedLog log_;
    std::string dir_;
    std::string dllName_;
};
