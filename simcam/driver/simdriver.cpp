#include "simdriver.h"

#include <string.h>

static const ULONG kStateMagic = 0x4D414353;  // "SCAM"

namespace {

// The range the camera reports for each control, in the order of
// CameraControlIds (the factory values are CameraControlFactoryDefault's).
const LONG kRanges[CAMERA_CONTROL_COUNT][2] = {
    {1, 32}, {0, 1}, {4, 32}, {1, 3330}, {0, 1}, {0, 1}, {0, 9}, {0, 1},
    {0, 1},  {0, 1}, {0, 1},  {0, 1},    {0, 4}, {0, 4}, {0, 1},
};

}  // namespace

SimDriver::SimDriver(SimDriverState *state) : m_state(state)
{
    if (m_state->magic != kStateMagic)
        Reset();
}

void SimDriver::Reset()
{
    memset(m_state, 0, sizeof(*m_state));
    m_state->magic = kStateMagic;
    ResetControls();
}

void SimDriver::ResetControls()
{
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i) {
        SimControl &c = m_state->controls[i];
        c.id = CameraControlIds[i];
        c.enable = 1;
        c.defaultValue = CameraControlFactoryDefault(c.id);
        c.minValue = kRanges[i][0];
        c.maxValue = kRanges[i][1];
        c.value = c.defaultValue;
    }
}

SimControl *SimDriver::Control(ULONG id)
{
    for (int i = 0; i < CAMERA_CONTROL_COUNT; ++i)
        if (m_state->controls[i].id == id)
            return &m_state->controls[i];
    return NULL;
}

LONG SimDriver::Value(ULONG id)
{
    SimControl *c = Control(id);
    return c ? c->value : 0;
}

void SimDriver::SetValue(ULONG id, LONG value)
{
    if (SimControl *c = Control(id))
        c->value = value;
}

void SimDriver::SetPresent(ULONG id, bool present)
{
    if (SimControl *c = Control(id))
        c->enable = present ? 1 : 0;
}

void SimDriver::SetRange(ULONG id, LONG minValue, LONG maxValue)
{
    if (SimControl *c = Control(id)) {
        c->minValue = minValue;
        c->maxValue = maxValue;
    }
}

void SimDriver::AddFault(ULONG property, ULONG controlId, ULONG kind, HRESULT result, LONG count)
{
    for (int i = 0; i < VIREO_SIM_MAX_REFUSALS; ++i) {
        SimFault &f = m_state->faults[i];
        if (!f.active) {
            f.active = 1;
            f.property = property;
            f.controlId = controlId;
            f.kind = kind;
            f.result = result;
            f.remaining = count;
            return;
        }
    }
}

void SimDriver::ClearFaults()
{
    memset(m_state->faults, 0, sizeof(m_state->faults));
}

HRESULT SimDriver::Fault(ULONG property, ULONG controlId, ULONG kind)
{
    for (int i = 0; i < VIREO_SIM_MAX_REFUSALS; ++i) {
        SimFault &f = m_state->faults[i];
        if (!f.active || f.remaining == 0)
            continue;
        if ((f.property == VIREO_SIM_ANY || f.property == property) &&
            (f.controlId == VIREO_SIM_ANY || f.controlId == controlId) &&
            (f.kind == VIREO_SIM_ANY || f.kind == kind)) {
            if (f.remaining > 0 && --f.remaining == 0)
                f.active = 0;
            return f.result;
        }
    }
    return S_OK;
}

LONG SimDriver::LogCount() const
{
    return m_state->logCount;
}

const SimRequest *SimDriver::LogEntry(LONG index) const
{
    if (index < 0 || index >= m_state->logCount ||
        index < m_state->logCount - VIREO_SIM_LOG_CAPACITY)
        return NULL;
    return &m_state->log[index % VIREO_SIM_LOG_CAPACITY];
}

void SimDriver::ClearLog()
{
    m_state->logCount = 0;
}

void SimDriver::Log(bool isSet, ULONG property, const void *block, ULONG instanceLength,
                    ULONG dataLength, bool sameBuffer, HRESULT result)
{
    SimRequest &r = m_state->log[m_state->logCount % VIREO_SIM_LOG_CAPACITY];
    memset(&r, 0, sizeof(r));
    r.isSet = isSet ? 1 : 0;
    r.property = property;
    r.instanceLength = instanceLength;
    r.dataLength = dataLength;
    r.sameBuffer = sameBuffer ? 1 : 0;
    ULONG length = isSet ? dataLength : instanceLength;
    if (block)
        memcpy(r.block, block, length < sizeof(r.block) ? length : sizeof(r.block));
    r.result = result;
    ++m_state->logCount;
}

HRESULT SimDriver::Get(REFGUID set, ULONG property, const void *instance, ULONG instanceLength,
                       void *data, ULONG dataLength, DWORD *returned)
{
    if (!IsEqualGUID(set, CameraPropertySet))
        return SIM_E_PROP_SET_UNSUPPORTED;

    // The request travels as instance data; take a copy before the reply
    // overwrites it (both are usually the same block).
    BYTE request[80] = {0};
    if (instance)
        memcpy(request, instance,
               instanceLength < sizeof(request) ? instanceLength : sizeof(request));
    const ULONG controlId = *reinterpret_cast<ULONG *>(request);
    const ULONG kind = *reinterpret_cast<ULONG *>(request + 4);

    HRESULT hr = S_OK;
    ULONG replyLength = 0;
    if (property > VALUE50H) {
        hr = SIM_E_PROP_ID_UNSUPPORTED;
    } else if (property == VALUE10H) {
        if (!data || dataLength < VALUE10H_SIZE || instanceLength < 8)
            hr = SIM_E_BUFFER_TOO_SMALL;
        else
            hr = GetControl(controlId, kind, static_cast<ControlReply *>(data), &replyLength);
    } else if (property == VALUE20H) {
        hr = E_INVALIDARG;  // SET_ENABLE is a set only
    } else {
        const ULONG size = 16 * (property + 1);
        if (!data || dataLength < size)
            hr = SIM_E_BUFFER_TOO_SMALL;
        else if ((hr = Fault(property, VIREO_SIM_ANY, VIREO_SIM_ANY)) == S_OK) {
            memcpy(data, m_state->opaque[property - VALUE30H], size);
            replyLength = size;
        }
    }
    if (SUCCEEDED(hr) && returned)
        *returned = replyLength;
    Log(false, property, request, instanceLength, dataLength, instance == data, hr);
    return hr;
}

// GET_ENABLE or GET_DATA of one control (VALUE10H), its buffers checked.
HRESULT SimDriver::GetControl(ULONG controlId, ULONG kind, ControlReply *reply, ULONG *replyLength)
{
    SimControl *c = Control(controlId);
    if (!c)
        return SIM_E_PROP_ID_UNSUPPORTED;
    const HRESULT hr = Fault(VALUE10H, controlId, kind);
    if (hr != S_OK)
        return hr;
    if (kind == GET_ENABLE) {
        reply->enableOrValue = c->enable;
        reply->defaultValue = c->defaultValue;
        reply->minValue = c->minValue;
        reply->maxValue = c->maxValue;
    } else if (kind == GET_DATA) {
        reply->enableOrValue = c->value;
    } else {
        return E_INVALIDARG;
    }
    *replyLength = VALUE10H_SIZE;
    return S_OK;
}

HRESULT SimDriver::Set(REFGUID set, ULONG property, const void *instance, ULONG instanceLength,
                       const void *data, ULONG dataLength)
{
    (void)instance;
    if (!IsEqualGUID(set, CameraPropertySet))
        return SIM_E_PROP_SET_UNSUPPORTED;

    HRESULT hr = S_OK;
    const ULONG *words = static_cast<const ULONG *>(data);
    if (property > VALUE50H) {
        hr = SIM_E_PROP_ID_UNSUPPORTED;
    } else if (!data || dataLength < 16 * (property + 1)) {
        hr = SIM_E_BUFFER_TOO_SMALL;
    } else if (property == VALUE10H || property == VALUE20H) {
        SimControl *c = Control(words[0]);
        const ULONG kind = words[1];
        if (!c)
            hr = SIM_E_PROP_ID_UNSUPPORTED;
        else if ((hr = Fault(property, words[0], kind)) != S_OK)
            ;
        else if (property == VALUE10H && kind == SET_DATA)
            c->value = static_cast<LONG>(words[2]);  // applied as sent
        else if (property == VALUE20H && kind == SET_ENABLE) {
            c->enable = static_cast<LONG>(words[2]);
            c->defaultValue = static_cast<LONG>(words[3]);
        } else
            hr = E_INVALIDARG;
    } else {
        if ((hr = Fault(property, VIREO_SIM_ANY, VIREO_SIM_ANY)) == S_OK)
            memcpy(m_state->opaque[property - VALUE30H], data, 16 * (property + 1));
    }
    Log(true, property, data, instanceLength, dataLength, false, hr);
    return hr;
}

VireoSimRequest SimDecodeRequest(const SimRequest &r)
{
    VireoSimRequest out;
    out.isSet = r.isSet != 0;
    out.property = r.property;
    out.controlId = r.ControlId();
    out.kind = r.Kind();
    out.value = 0;
    if (r.isSet && r.property == VALUE10H && r.Kind() == SET_DATA)
        out.value = r.Value();
    else if (r.isSet && r.property == VALUE20H && r.Kind() == SET_ENABLE)
        out.value = r.Word(3);  // ControlRequest32's default
    out.result = r.result;
    return out;
}
