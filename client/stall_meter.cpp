// The heartbeat and its record.
#include "stall_meter.h"

#include <glib.h>

#include <cstdio>
#include <cstdlib>

namespace rodedudir {

namespace {

constexpr guint kBeatMs = 50;

struct StallMeter {
    std::string strFile;
    gint64 tLast = 0;
    gint64 nMaxGapUs = 0;
    gint64 tLastWrite = 0;
    long long nBeats = 0;
};

StallMeter* g_pMeter = nullptr;

void WriteRecord(const StallMeter& meter) {
    std::string strTmp = meter.strFile + ".tmp";
    FILE* pFile = fopen(strTmp.c_str(), "w");
    if (!pFile)
        return;
    fprintf(pFile, "max_gap_ms %.1f\nbeats %lld\n", static_cast<double>(meter.nMaxGapUs) / 1000.0,
            meter.nBeats);
    fclose(pFile);
    rename(strTmp.c_str(), meter.strFile.c_str());
}

int Beat(void*) {
    if (!g_pMeter)
        return G_SOURCE_REMOVE;
    gint64 tNow = g_get_monotonic_time();
    gint64 nGap = tNow - g_pMeter->tLast;
    if (nGap > g_pMeter->nMaxGapUs)
        g_pMeter->nMaxGapUs = nGap;
    g_pMeter->tLast = tNow;
    ++g_pMeter->nBeats;
    if (tNow - g_pMeter->tLastWrite >= 1000000) {
        g_pMeter->tLastWrite = tNow;
        WriteRecord(*g_pMeter);
    }
    return G_SOURCE_CONTINUE;
}

}  // namespace

void start_stall_meter() {
    const char* pszFile = getenv("VELMO_STALL_LOG");
    if (!pszFile || !*pszFile || g_pMeter)
        return;
    g_pMeter = new StallMeter;
    g_pMeter->strFile = pszFile;
    g_pMeter->tLast = g_pMeter->tLastWrite = g_get_monotonic_time();
    g_timeout_add(kBeatMs, &Beat, nullptr);
}

void stop_stall_meter() {
    if (!g_pMeter)
        return;
    WriteRecord(*g_pMeter);
    delete g_pMeter;
    g_pMeter = nullptr;
}

}  // namespace rodedudir
