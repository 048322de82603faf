#pragma once

#include <QString>
#include <QThread>

#include <condition_variable>
#include <mutex>

namespace keylight {

class RegisterWindow;

// Shows texts on the two-line, 20-character vacuum displays driven by the FPGA. The text is
// formatted into one 40-character frame here and clocked into the display data register by a
// VacuumWriter on this object's own thread, one character per millisecond.
//
// showText is called from one thread only (the stored frame has no lock), never from the
// Vacuum thread itself.
class Vacuum : public QThread {
    Q_OBJECT

public:
    // window must outlive the Vacuum; it is not owned. Registers QString for queued signals.
    Vacuum(QObject* parent, RegisterWindow* window);
    // Ends the thread's event loop and waits for it; texts not yet written are dropped.
    ~Vacuum() override;

    // Shows up to two lines of text (split at line feeds, further lines ignored), each cut or
    // padded to 20 characters, on display vacuum_index. A frame equal to the one shown last,
    // on either display, is not written again. The first call starts the thread and waits
    // until its writer is ready.
    void showText(int vacuum_index, const QString& text);

signals:
    void text_signal(int vacuum_index, QString text);

protected:
    void run() override;

private:
    RegisterWindow* _window;
    QString _text;
    // Set by the thread once its writer receives the texts. A standard mutex, so that thread
    // checkers see the hand-over of the thread's event dispatcher to the caller.
    std::mutex _ready_mutex;
    std::condition_variable _ready_changed;
    bool _writer_ready = false;
};

}  // namespace keylight
