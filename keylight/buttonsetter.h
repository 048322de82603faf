// The interface through which a client connection hands its messages to the dispatcher.
#pragma once

#include <QByteArray>
#include <vector>

namespace keylight {

class ButtonSetter {
public:
    virtual ~ButtonSetter() = default;

    // Acts on every message of one batch, in order. Each message is one frame's record
    // without its length prefix; the records are converted in place, so the batch changes.
    // The answers to the sending connection are appended to replies, in order, for the
    // connection to send at once; tag is its number (1000, 2000, ...). Nothing else is reported
    // back: a refused message is logged and skipped.
    virtual void process_messages(std::vector<QByteArray>& messages, QByteArray& replies,
                                  int tag) = 0;
    // Connection tag has ended: nothing it kept can be addressed any more. A setter that keeps
    // nothing per connection has nothing to drop.
    virtual void connectionClosed(int tag) { static_cast<void>(tag); }
};

}  // namespace keylight
