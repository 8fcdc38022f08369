#include "engine/passwordoperation.h"

#include "engine/enginelog.h"
#include "engine/writeplan.h"

using replies::CustomAnswer;

PasswordOperation::PasswordOperation(EngineHost& host, uint8_t& write_bank_step)
    : m_host(host), m_write_bank_step(write_bank_step)
{
}

void PasswordOperation::Open_PresentPassword(const QString& presenpassword, uint8_t password_number)
{
    // A present-password is no write: a pending flag left by an earlier, accepted write
    // must not change how its reply is judged (the reader would take a refused password
    // as a written one, or a repeated present as a failed password write).
    config_write_pending = 0;
    pwd_write_pending = 0;
    m_host.sendCustom(
        writeplan::kIsoPresentPassword,
        writeplan::passwordParameters(password_number, writeplan::passwordBytes(presenpassword)));
}

void PasswordOperation::Change_Password(uint8_t password_number)
{
    m_host.sendCustom(
        writeplan::kIsoWritePassword,
        writeplan::passwordParameters(password_number,
                                      writeplan::passwordBytes(writeplan::fixedPasswordHex())));
}

void PasswordOperation::Change_RW_Config(uint8_t rfa1ss_value)
{
    QByteArray parameters(1, static_cast<char>(writeplan::kRegRfa1ss));
    parameters.append(static_cast<char>(rfa1ss_value));
    m_host.sendCustom(writeplan::kIsoWriteConfiguration, parameters);
}

void PasswordOperation::Configure_Tag_System()
{
    switch (block_step) {
    case 1:
        // Taken to work until its reply says otherwise. The FEIG reader examines only a
        // refused present (status 0x95), so a flag left from an earlier step would
        // otherwise send a factory-fresh tag down the configured tag's path.
        pwd_first_failed = 0;
        Open_PresentPassword(writeplan::factoryPasswordHex(), writeplan::kPasswordConfig);
        block_step = 3;
        break;
    case 2:
        // The factory password was refused: the tag has been configured before.
        Open_PresentPassword(writeplan::fixedPasswordHex(), writeplan::kPasswordConfig);
        block_step = 3;
        break;
    case 3:
        config_write_pending = 1;
        Change_RW_Config(writeplan::kRfa1ssProtected);
        block_step = 4;
        break;
    case 4:
        // Area 1 is opened with the same password that opened password 0.
        block_step = pwd_first_failed == 0 ? 5 : 6;
        config_step_saved = block_step;
        pwd_write_pending = 1;
        Change_Password(writeplan::kPasswordConfig);
        break;
    case 5:
        Open_PresentPassword(writeplan::factoryPasswordHex(), writeplan::kPasswordArea1);
        block_step = 7;
        break;
    case 6:
        Open_PresentPassword(writeplan::fixedPasswordHex(), writeplan::kPasswordArea1);
        block_step = 7;
        break;
    case 7:
        pwd_write_pending = 1;
        Change_Password(writeplan::kPasswordArea1);
        m_write_bank_step = 2;
        break;
    default:
        break;
    }
}

void PasswordOperation::reply(const replies::Reply& reply)
{
    Handshake& hs = m_host.handshake();
    switch (reply.custom) {
    case CustomAnswer::Answered:
        qCDebug(lcEngine) << "透传成功";
        hs.ack = 1;
        Serianet_Recevie(reply);
        break;
    case CustomAnswer::Accepted:
        qCDebug(lcEngine) << "透传成功";
        hs.ack = 1;
        break;
    case CustomAnswer::NotAnswered:
        if (config_write_pending || pwd_write_pending) {
            // The tag does not answer a configuration or password write in time for the
            // reader; the command is taken as done.
            qCDebug(lcEngine) << "写密码或更改配置时透传成功";
            config_write_pending = 0;
            pwd_write_pending = 0;
            hs.ack = 1;
        } else {
            m_host.reportFailure(reply);
        }
        break;
    case CustomAnswer::NoTransponder:
    case CustomAnswer::IsoError:
    case CustomAnswer::ReaderError:
        if (pwd_write_pending) {
            pwd_write_pending = 0;
            // The reader reports the written password as "no transponder"; anything else
            // is a failed password write and stops the sequence without a word.
            if (reply.custom == CustomAnswer::NoTransponder) {
                qCDebug(lcEngine) << "<写密码成功>";
                hs.ack = 1;
            } else {
                qCDebug(lcEngine) << "<操作失败4：写密码失败>";
            }
        } else if (reply.custom == CustomAnswer::IsoError) {
            hs.ack = 1;
            Serianet_Recevie(reply);
        } else {
            // The step is repeated from where the password write left it.
            hs.ack = 1;
            block_step = config_step_saved;
        }
        break;
    case CustomAnswer::None:
        break;
    }
}

void PasswordOperation::Serianet_Recevie(const replies::Reply& reply)
{
    if (!first_transparent_check)
        return;
    first_transparent_check = 0;
    if (reply.responseByte1 == replies::kPresentPasswordOkByte) {
        pwd_first_failed = 0;
        return;
    }
    qCDebug(lcEngine) << "第一次密码输入错误";
    pwd_first_failed = 1;
    block_step = 2;
}
