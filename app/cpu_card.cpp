#include "cpu_card.h"

CCPUCard::CCPUCard(QWidget *parent) : QWidget(parent) {}
