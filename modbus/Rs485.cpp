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
    return PurgeTx() && lines;
}

bool TRs485::RxMode() {
    const bool lines = SetDirection(Invert == 0 ? 1 : 0);
    return PurgeRx() && lines;
}
