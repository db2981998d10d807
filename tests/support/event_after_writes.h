// A reader model that lets something happen to the reader at an exact point
// of a test: right after it answered the Nth block or trailer write, before
// it hears the next frame, whatever the load on the machine.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "sim/responder.h"

namespace testing_support {

class EventAfterWrites : public sim::Responder {
public:
    // `event` runs on the simulator's thread; `unplug` pulls the reader out
    // once the answer to that write has gone out instead.
    EventAfterWrites(std::shared_ptr<sim::Responder> model, int writes, std::function<void()> event, bool unplug = false)
        : model_(std::move(model)), writes_left_(writes), event_(std::move(event)), unplug_(unplug) {}

    sim::Reaction Respond(const sim::Command &command) override {
        sim::Reaction reaction = model_->Respond(command);
        const bool write = command.group == 0x03 && (command.code == 0x03 || command.code == 0x07);
        if (write && --writes_left_ == 0) {
            if (event_) event_();
            reaction.unplug = unplug_;
        }
        return reaction;
    }

private:
    std::shared_ptr<sim::Responder> model_;
    int writes_left_;
    std::function<void()> event_;
    bool unplug_;
};

}  // namespace testing_support
