// Tag passwords and the security configuration: the three ST25DV custom commands sent
// through either reader, and the sequence that moves a tag from the factory password
// to the program's own and protects RF area 1.
#include "engine/tagengine.h"

#include "engine/enginelog.h"
#include "engine/writeplan.h"
#include "readers/feigworker.h"
#include "readers/myfeigusb.h"
#include "readers/myreader.h"

using replies::Kind;

namespace
{


} // namespace

void TagEngine::Open_PresentPassword(QString presenpassword, uint8_t password_number)
{
    // A present-password is no write: a pending flag left by an earlier, accepted write
    // must not change how its reply is judged (the reader would take a refused password
    // as a written one, or a repeated present as a failed password write).
    config_write_pending = 0;
    pwd_write_pending = 0;
    const QByteArray password = writeplan::passwordBytes(presenpassword);
    if (reader_type == ReaderType::Feig) {
        sendFeigFrame(m_feig->Feig_PresentPassword(uidReversedBytes(), password_number, password),
                      Kind::Transparent);
    } else if (reader_type == ReaderType::R321) {
        const QByteArray parameters = writeplan::passwordParameters(password_number, password);
        sendR321Frame(m_myreader->Cmd_Transparent(uidBytes(), writeplan::kIsoPresentPassword,
                                                  parameters, parameters.size()),
                      Kind::Transparent);
    }
}

void TagEngine::Change_Password(uint8_t password_number)
{
    const QByteArray password = writeplan::passwordBytes(writeplan::fixedPasswordHex());
    if (reader_type == ReaderType::Feig) {
        sendFeigFrame(m_feig->Feig_WritePassword(uidReversedBytes(), password_number, password),
                      Kind::Transparent);
    } else if (reader_type == ReaderType::R321) {
        const QByteArray parameters = writeplan::passwordParameters(password_number, password);
        sendR321Frame(m_myreader->Cmd_Transparent(uidBytes(), writeplan::kIsoWritePassword,
                                                  parameters, parameters.size()),
                      Kind::Transparent);
    }
}

void TagEngine::Change_RW_Config(uint8_t rfa1ss_value)
{
    if (reader_type == ReaderType::Feig) {
        sendFeigFrame(m_feig->Feig_WriteConfig(uidReversedBytes(), rfa1ss_value),
                      Kind::Transparent);
    } else if (reader_type == ReaderType::R321) {
        QByteArray parameters(1, static_cast<char>(writeplan::kRegRfa1ss));
        parameters.append(static_cast<char>(rfa1ss_value));
        sendR321Frame(m_myreader->Cmd_Transparent(uidBytes(), writeplan::kIsoWriteConfiguration,
                                                  parameters, parameters.size()),
                      Kind::Transparent);
    }
}

void TagEngine::Configure_Tag_System()
{
    switch (m_cmd.block_step) {
    case 1:
        // Taken to work until its reply says otherwise. The FEIG reader examines only a
        // refused present (status 0x95), so a flag left from an earlier run would
        // otherwise send a factory-fresh tag down the configured tag's path.
        pwd_first_failed = 0;
        Open_PresentPassword(writeplan::factoryPasswordHex(), writeplan::kPasswordConfig);
        m_cmd.block_step = 3;
        break;
    case 2:
        // The factory password was refused: the tag has been configured before.
        Open_PresentPassword(writeplan::fixedPasswordHex(), writeplan::kPasswordConfig);
        m_cmd.block_step = 3;
        break;
    case 3:
        config_write_pending = 1;
        Change_RW_Config(writeplan::kRfa1ssProtected);
        m_cmd.block_step = 4;
        break;
    case 4:
        // Area 1 is opened with the same password that opened password 0.
        m_cmd.block_step = pwd_first_failed == 0 ? 5 : 6;
        m_cmd.config_step_saved = m_cmd.block_step;
        pwd_write_pending = 1;
        Change_Password(writeplan::kPasswordConfig);
        break;
    case 5:
        Open_PresentPassword(writeplan::factoryPasswordHex(), writeplan::kPasswordArea1);
        m_cmd.block_step = 7;
        break;
    case 6:
        Open_PresentPassword(writeplan::fixedPasswordHex(), writeplan::kPasswordArea1);
        m_cmd.block_step = 7;
        break;
    case 7:
        pwd_write_pending = 1;
        Change_Password(writeplan::kPasswordArea1);
        m_cmd.write_bank_step = 2;
        break;
    default:
        break;
    }
}
