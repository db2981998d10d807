// The card link the whole-card page works through: the toolkit's card
// operations on the library's exported functions, over the session the
// serial panel has opened.
#pragma once

#include <memory>

#include "card/card_link.h"

std::unique_ptr<zelkor::card::CardLink> NewLibraryCardLink();
