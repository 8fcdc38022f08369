#pragma once

#include "engine/operation.h"

/// The tag's passwords and its security configuration: the three ST25DV custom commands,
/// and the sequence that moves a tag from the factory password to the program's own and
/// protects RF area 1 (Configure_Tag_System, one step per call). It runs inside the write
/// operation that needs it, whose handshake it shares, and judges the replies to its own
/// commands.
class PasswordOperation
{
  public:
    /// `write_bank_step` is the step of the write that runs it: the last configuration
    /// step hands over to the write's bank (step 2).
    PasswordOperation(EngineHost& host, uint8_t& write_bank_step);

    // The described state of the configuration sequence.
    uint8_t block_step = 1; ///< the configuration step, 0 to 7
    uint8_t config_step_saved = 0;
    uint8_t pwd_first_failed = 0;
    uint8_t config_write_pending = 0;
    uint8_t pwd_write_pending = 0;
    uint8_t first_transparent_check = 1; ///< the first custom reply is the password check

    void Open_PresentPassword(const QString& presenpassword, uint8_t password_number);
    void Change_Password(uint8_t password_number);
    void Change_RW_Config(uint8_t rfa1ss_value);
    void Configure_Tag_System();
    /// The present-password check on the first custom reply.
    void Serianet_Recevie(const replies::Reply& reply);
    /// A reply to one of its commands.
    void reply(const replies::Reply& reply);

  private:
    EngineHost& m_host;
    uint8_t& m_write_bank_step;
};
