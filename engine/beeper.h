#pragma once

#include "readers/replies.h"

#include <QObject>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

/// The reader's beeper: one beep for success, two for failure, stepped by the engine's
/// 1 ms tick (Beep_Process after the sequence step). Every switch on or off is one reader
/// command; the reply to the last switch-off ends the pattern.
class Beeper : public QObject
{
    Q_OBJECT
  public:
    /// Sends one switch of the beeper (1 on, 0 off); false when there is no reader to
    /// send it to.
    using Switch = std::function<bool(uint8_t state)>;

    explicit Beeper(Switch send, QObject* parent = nullptr);

    // The described state of the beeper.
    uint8_t beep_pattern = 0; ///< 0 idle, 1 one beep, 2 two beeps
    uint8_t beep_ticks = 0;
    uint8_t beep_step = 0;
    uint8_t beep_twice_step = 0;
    std::array<uint8_t, 8> beep_cmd{}; ///< byte 1: the state switched to last

    void Start_Beep(uint8_t cnt);
    void Beep_Process();
    void Buzzer_Once(bool mode);
    void Buzzer_TWICE();
    void Buzzer_OnOff_Process(uint8_t OnffState);
    /// The end of a beep: once per pattern, on the reply to its last switch-off.
    void Beep_Recevie();
    /// A reply of the reader to a beeper command.
    void reply(const replies::Reply& reply);
    /// How long the last switch-off of a pattern waits for its reply.
    void setEndTimeout(int ms) { m_end_timeout_ms = ms; }
    bool idle() const { return beep_pattern == 0; }

  signals:
    /// The reader has answered the last switch-off of a pattern (or never will).
    void finished();

  private:
    void reportBeeperFailure();
    void onEndOverdue();

    Switch m_send;
    bool m_failure_reported = false; // a refused beeper command was traced in this pattern
    bool m_end_pending = false;      // the last switch-off of a pattern is unanswered
    int m_end_timeout_ms = 3000;
    QTimer m_end_timer;
};
