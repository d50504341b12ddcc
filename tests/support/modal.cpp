#include "support/modal.h"

namespace qvtest {

BoxRecorder::BoxRecorder() {
    platform::ui::SetMsgBoxResponderForTests([this](const platform::ui::MsgBoxRecord &r) {
        boxes_.push_back(r);
        return answer;
    });
}

BoxRecorder::~BoxRecorder() { platform::ui::SetMsgBoxResponderForTests({}); }

}  // namespace qvtest
