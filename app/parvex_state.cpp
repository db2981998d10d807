#include "app/parvex_state.h"

void CParvexState::SetPortOpen(bool open) {
    m_bPortOpen = open;
    emit portOpenChanged(open);
}

void CParvexState::SetPort(int port) {
    m_nPort = port;
    emit portChanged(port);
}

void CParvexState::SetCardType(int card_type) {
    m_nCardType = card_type;
    emit cardTypeChanged(card_type);
}

void CParvexState::SetBusy(bool busy) {
    m_bBusy = busy;
    emit busyChanged(busy);
}
