#include "snmp/qam_mib_text.h"

namespace hx {

const std::string_view kQamMibText = R"MIB(QAM-MIB DEFINITIONS ::= BEGIN

-- The QAM modulator card's own objects. The module imports nothing: the
-- path to the enterprise subtree is spelled out here, so a manager loads
-- it without the SMI modules.

org            OBJECT IDENTIFIER ::= { iso 3 }
dod            OBJECT IDENTIFIER ::= { org 6 }
internet       OBJECT IDENTIFIER ::= { dod 1 }
private        OBJECT IDENTIFIER ::= { internet 4 }
enterprises    OBJECT IDENTIFIER ::= { private 1 }

qamEnterprise  OBJECT IDENTIFIER ::= { enterprises 53117 }
qam            OBJECT IDENTIFIER ::= { qamEnterprise 8 }
qamStatus      OBJECT IDENTIFIER ::= { qam 1 }
qamConfig      OBJECT IDENTIFIER ::= { qam 2 }

temperature OBJECT-TYPE
    SYNTAX      INTEGER
    ACCESS      read-only
    STATUS      mandatory
    DESCRIPTION "Modulator temperature, degrees Celsius, from the last status poll."
    ::= { qamStatus 1 }

baseInfoTable OBJECT-TYPE
    SYNTAX      SEQUENCE OF BaseInfoEntry
    ACCESS      not-accessible
    STATUS      mandatory
    DESCRIPTION "One row per output channel."
    ::= { qamStatus 2 }

baseInfoEntry OBJECT-TYPE
    SYNTAX      BaseInfoEntry
    ACCESS      not-accessible
    STATUS      mandatory
    DESCRIPTION "The rates and overflow state of one output channel."
    INDEX       { baseInfoIndex }
    ::= { baseInfoTable 1 }

BaseInfoEntry ::= SEQUENCE {
    baseInfoIndex   INTEGER,
    baseInfoStatus  OCTET STRING
}

baseInfoIndex OBJECT-TYPE
    SYNTAX      INTEGER (1..16)
    ACCESS      read-only
    STATUS      mandatory
    DESCRIPTION "Output channel number, 1-16."
    ::= { baseInfoEntry 1 }

baseInfoStatus OBJECT-TYPE
    SYNTAX      OCTET STRING (SIZE (0..127))
    ACCESS      read-only
    STATUS      mandatory
    DESCRIPTION
        "Total and effective rate in Mbit/s and the overflow state:
        'TotalBitRate:38.000 | EffectiveBitRate:30.000 | status:normal';
        'abnormal' when the configured rate exceeds 98 % of the total."
    ::= { baseInfoEntry 2 }

rfLevel OBJECT-TYPE
    SYNTAX      INTEGER (15..45)
    ACCESS      read-write
    STATUS      mandatory
    DESCRIPTION "RF output level of the card."
    ::= { qamConfig 1 }

PSIInterval OBJECT-TYPE
    SYNTAX      INTEGER (50..10000)
    ACCESS      read-write
    STATUS      mandatory
    DESCRIPTION "PSI/SI repetition interval, milliseconds. Not saved."
    ::= { qamConfig 2 }

paramTable OBJECT-TYPE
    SYNTAX      SEQUENCE OF ParamEntry
    ACCESS      not-accessible
    STATUS      mandatory
    DESCRIPTION
        "RF parameters of each output channel. Columns frequency and
        constellation are served in annex mode 0 (J.83 Annex A) only,
        annexBConstellation and channelName in annex mode 1 (Annex B) only;
        a column not served reads as noSuchInstance and refuses a SET with
        inconsistentValue. Symbol rate, bandwidth and constellation belong
        to a group of 8 channels."
    ::= { qamConfig 3 }

paramEntry OBJECT-TYPE
    SYNTAX      ParamEntry
    ACCESS      not-accessible
    STATUS      mandatory
    DESCRIPTION "The RF parameters of one output channel."
    INDEX       { paramIndex }
    ::= { paramTable 1 }

ParamEntry ::= SEQUENCE {
    paramIndex           INTEGER,
    channelEnable        INTEGER,
    frequency            INTEGER,
    bandwidth            INTEGER,
    symbolRate           INTEGER,
    constellation        INTEGER,
    annexBConstellation  INTEGER,
    channelName          OCTET STRING
}

paramIndex OBJECT-TYPE
    SYNTAX      INTEGER (1..16)
    ACCESS      read-only
    STATUS      mandatory
    DESCRIPTION "Output channel number, 1-16."
    ::= { paramEntry 1 }

channelEnable OBJECT-TYPE
    SYNTAX      INTEGER { off(0), on(1) }
    ACCESS      read-write
    STATUS      mandatory
    DESCRIPTION "Channel output switch."
    ::= { paramEntry 2 }

frequency OBJECT-TYPE
    SYNTAX      INTEGER (47000..806000)
    ACCESS      read-write
    STATUS      mandatory
    DESCRIPTION
        "Centre frequency, kHz (annex mode 0). Channel 16 takes at most
        806000, each channel below it 7000 less; a value within 7000 of
        either neighbouring channel is inconsistent."
    ::= { paramEntry 3 }

bandwidth OBJECT-TYPE
    SYNTAX      INTEGER (6..8)
    ACCESS      read-write
    STATUS      mandatory
    DESCRIPTION "Channel bandwidth, MHz; only 6 in annex mode 1."
    ::= { paramEntry 4 }

symbolRate OBJECT-TYPE
    SYNTAX      INTEGER (4400..6956)
    ACCESS      read-write
    STATUS      mandatory
    DESCRIPTION
        "Symbol rate, ksym/s; settable in annex mode 0. In annex mode 1 it
        reads 5056 (64-QAM) or 5361 (256-QAM)."
    ::= { paramEntry 5 }

constellation OBJECT-TYPE
    SYNTAX      INTEGER (0..4)
    ACCESS      read-write
    STATUS      mandatory
    DESCRIPTION "Constellation in annex mode 0: 0-4 (16- to 256-QAM)."
    ::= { paramEntry 6 }

annexBConstellation OBJECT-TYPE
    SYNTAX      INTEGER { qam64(0), qam256(1) }
    ACCESS      read-write
    STATUS      mandatory
    DESCRIPTION
        "Constellation in annex mode 1; sets the matching J.83 Annex B
        symbol rate (5056941 or 5360537 sym/s)."
    ::= { paramEntry 7 }

channelName OBJECT-TYPE
    SYNTAX      OCTET STRING (SIZE (0..20))
    ACCESS      read-write
    STATUS      mandatory
    DESCRIPTION
        "Channel of the plan chosen by channelStandard whose frequency the
        channel carries (annex mode 1), as 'CH2-57MHz'. A SET takes a name
        of the plan, or with STD, IRC and HRC its frequency part ('57',
        '55.75'), and moves the channel to that frequency."
    ::= { paramEntry 8 }

channelStandard OBJECT-TYPE
    SYNTAX      INTEGER { air(0), std(1), irc(2), hrc(3) }
    ACCESS      read-write
    STATUS      mandatory
    DESCRIPTION
        "ATSC channel plan (annex mode 1 only). A SET moves channels 1-16
        to the first 16 channels of the plan."
    ::= { qamConfig 4 }

END
)MIB";

}  // namespace hx
