#include "platform/qam_poll.h"

#include <pthread.h>

#include <atomic>

#include "core/clock.h"
#include "core/log.h"
#include "platform/qam_apply.h"
#include "platform/z160t_status.h"

namespace hx {

namespace {

std::atomic<bool> s_stop{false};

}  // namespace

U32 QAM160TComm_NextPollCount(U32 u32Polls) { return u32Polls >= kQamPollCounterLast ? 0 : u32Polls + 1; }

bool QAM160TComm_PollTurn(U32& u32Polls) {
    if (g_isSetQamPara.load() == 1) {
        return false;
    }
    Z160T_UartComm_GetState();
    u32Polls = QAM160TComm_NextPollCount(u32Polls);
    if (u32Polls % kQamPollLogEvery == 0) {
        HX_LOG(LOG_LEVEL_DEBUG, LOG_MODULE_QAM, "Communication With 160T Sucess.....\n\n");
    }
    return true;
}

void* QAM160TComm_Service(void*) {
    TheClock().SleepMicros(kQamPollFirstWaitMicros);
    U32 polls = 0;
    while (!s_stop.load()) {
        QAM160TComm_PollTurn(polls);
        TheClock().SleepMicros(kQamPollPeriodMicros);
    }
    s_stop.store(false);
    return nullptr;
}

void QAM160TComm_RequestStop() { s_stop.store(true); }

U32 QAM160TComm_Start() {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Thread attribute creation failed\n\n");
        return 1;
    }
    if (pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED) != 0) {
        pthread_attr_destroy(&attributes);
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "Thread attribute setting failed\n\n");
        return 1;
    }
    pthread_t thread{};
    const int result = pthread_create(&thread, &attributes, QAM160TComm_Service, nullptr);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        HX_LOG(LOG_LEVEL_ERROR, LOG_MODULE_QAM, "QAM160T thread create failed!\r\n\n");
        return 1;
    }
    HX_LOG(LOG_LEVEL_INFO, LOG_MODULE_QAM, "QAM160T thread create successfully!\r\n\n");
    return 0;
}

}  // namespace hx
