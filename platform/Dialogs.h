// Every message box of the programs goes through here, so that tests can
// answer boxes automatically and no test ever waits on a modal box.
#pragma once

#include <QString>
#include <functional>

namespace Dialogs {

enum class Icon { None, Information, Question, Stop };
enum class Buttons { Ok, OkCancel };
enum class Answer { Ok, Cancel };

struct Box {
    QString caption;
    QString text;
    Icon icon = Icon::None;
    Buttons buttons = Buttons::Ok;
};

// Shows the box modally, centred on the screen, and returns the answer.
Answer show(const Box& box);

// Tests install a responder that answers instead of showing the box; an
// empty one restores real boxes. Returns the previous responder.
using Responder = std::function<Answer(const Box&)>;
Responder setResponder(Responder responder);

}
