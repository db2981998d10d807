#include "mifare_card.h"

CMifareCard::CMifareCard(QWidget *parent) : QWidget(parent) {}
