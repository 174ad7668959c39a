#include "kerneldrive/tcmu_layout.h"

#include <linux/target_core_user.h>

const struct TcmuLayout kTcmuLayout = {
    .mailboxSize = sizeof(struct tcmu_mailbox),
    .cmdrOff = offsetof(struct tcmu_mailbox, cmdr_off),
    .cmdrSize = offsetof(struct tcmu_mailbox, cmdr_size),
    .cmdHead = offsetof(struct tcmu_mailbox, cmd_head),
    .cmdTail = offsetof(struct tcmu_mailbox, cmd_tail),
    .headerSize = sizeof(struct tcmu_cmd_entry_hdr),
    .cmdId = offsetof(struct tcmu_cmd_entry_hdr, cmd_id),
    .uflags = offsetof(struct tcmu_cmd_entry_hdr, uflags),
    .iovCount = offsetof(struct tcmu_cmd_entry, req.iov_cnt),
    .iovBidiCount = offsetof(struct tcmu_cmd_entry, req.iov_bidi_cnt),
    .iovDifCount = offsetof(struct tcmu_cmd_entry, req.iov_dif_cnt),
    .cdbOff = offsetof(struct tcmu_cmd_entry, req.cdb_off),
    .iovArray = offsetof(struct tcmu_cmd_entry, req.iov),
    .scsiStatus = offsetof(struct tcmu_cmd_entry, rsp.scsi_status),
    .senseBuffer = offsetof(struct tcmu_cmd_entry, rsp.sense_buffer),
    .senseSize = TCMU_SENSE_BUFFERSIZE,
    .entrySize = sizeof(struct tcmu_cmd_entry),
    .iovSize = sizeof(struct iovec),
    .opMask = TCMU_OP_MASK,
    .opPad = TCMU_OP_PAD,
    .opCmd = TCMU_OP_CMD,
    .opTmr = TCMU_OP_TMR,
    .alignSize = TCMU_OP_ALIGN_SIZE,
    .unknownOpFlag = TCMU_UFLAG_UNKNOWN_OP,
    .mailboxVersion = TCMU_MAILBOX_VERSION,
};
