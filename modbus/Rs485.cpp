#include "Rs485.h"

void TRs485::SetControl(uint8_t dtr, uint8_t rts, uint8_t invert) {
    Dtr = dtr;
    Rts = rts;
    Invert = invert;
}

bool TRs485::SetDirection(uint8_t level) {
    bool ok = true;
    if (Dtr != 0) {
        ok = SetDtr(level) && ok;
    }
    if (Rts != 0) {
        ok = SetRts(level) && ok;
    }
    return ok;
}

bool TRs485::TxMode() {
    const bool lines = SetDirection(Invert);
    // Whatever either queue still holds belongs to an earlier exchange; nothing of the answer to
    // the request about to be written can exist yet.
    return Purge(PurgeTxClear | PurgeRxClear) && lines;
}

bool TRs485::RxMode() {
    // The input queue stays: when the writer gets back late, the answer may already be in it.
    // The receiver tells the echo of the request from the answer.
    const bool lines = SetDirection(Invert == 0 ? 1 : 0);
    return IsOpen() && lines;
}
