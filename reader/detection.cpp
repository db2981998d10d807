// Card search, wake-up, anticollision, selection and halt.
#include "exchange.h"
#include "messages.h"
#include "zelkor.h"

using namespace zelkor;

extern "C" {

int FindCard(void) {
    CommandFrame frame(0x02, 0x01);
    frame.Add(0x26).Finish();
    if (Exchange(0x01, frame) == nullptr) return 0;
    PrintMessage(Message::kFindCardOk);
    return 1;
}

}  // extern "C"
