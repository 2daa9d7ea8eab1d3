// Kernel-mode stand-in for the IPMI device, loaded by Wine as a service.
//
// Every answer comes from the shared request logic; this file only moves
// bytes between the I/O manager, the registry and that logic. The state and
// the scripted faults live in the registry rather than in memory so that a
// test can change them between runs, and so that nothing is lost when Wine
// ends a session and reloads the driver in the next one.

// The DDK header defines these two itself; in C++ the compiler's intrinsic
// header must leave them out or the second definition is an error.
#define __INTRINSIC_DEFINED_InterlockedBitTestAndSet
#define __INTRINSIC_DEFINED_InterlockedBitTestAndReset
#include <ddk/wdm.h>

#include "ipmi_driver_logic.h"

#define IPMIDEV_DEVICE_NAME L"\\Device\\IPMIDEV"
#define IPMIDEV_LINK_NAME L"\\DosDevices\\IPMIDEV"
#define IPMIDEV_PARAMETERS_SUFFIX L"\\Parameters"
#define IPMIDEV_MAX_PATH_CHARS 512u

// Win32 error codes the program can see and the status that yields each.
// Wine maps FACILITY_NTWIN32 statuses back to their low word, which covers
// every code up to 0xFFFF; the named statuses are what a real driver would
// return and keep traces readable.
#define IPMIDEV_FACILITY_NTWIN32_ERROR 0xC0070000u
// Wine passes a failure status with the customer bit through as the error
// code itself; a success-severity one would complete the request instead.
#define IPMIDEV_CUSTOMER_FAILURE_BITS 0xA0000000u

struct IPMIDEV_STATUS_PAIR {
    ULONG Win32Error;
    NTSTATUS Status;
};

static const IPMIDEV_STATUS_PAIR IPMIDEV_KNOWN_STATUSES[] = {
    {1u, STATUS_INVALID_DEVICE_REQUEST},
    {31u, STATUS_UNSUCCESSFUL},
    {87u, STATUS_INVALID_PARAMETER},
    {1117u, STATUS_IO_DEVICE_ERROR},
};

static WCHAR g_ParametersPathBuffer[IPMIDEV_MAX_PATH_CHARS];
static UNICODE_STRING g_ParametersPath;
static KMUTEX g_RequestLock;

static NTSTATUS MapWin32ErrorToStatus(ULONG Win32Error) {
    for (ULONG Index = 0;
         Index < sizeof(IPMIDEV_KNOWN_STATUSES) / sizeof(IPMIDEV_KNOWN_STATUSES[0]); ++Index) {
        if (IPMIDEV_KNOWN_STATUSES[Index].Win32Error == Win32Error) {
            return IPMIDEV_KNOWN_STATUSES[Index].Status;
        }
    }
    if (Win32Error <= 0xFFFFu) {
        return (NTSTATUS)(IPMIDEV_FACILITY_NTWIN32_ERROR | Win32Error);
    }
    if ((Win32Error & IPMIDEV_CUSTOMER_FAILURE_BITS) == IPMIDEV_CUSTOMER_FAILURE_BITS) {
        return (NTSTATUS)Win32Error;
    }
    // No status yields any other wide code; fail generically instead.
    return STATUS_UNSUCCESSFUL;
}

static void InitCountedString(UNICODE_STRING* String, const WCHAR* Text) {
    USHORT Length = 0;
    while (Text[Length / sizeof(WCHAR)] != L'\0') {
        Length = (USHORT)(Length + sizeof(WCHAR));
    }
    String->Buffer = (PWSTR)Text;
    String->Length = Length;
    String->MaximumLength = (USHORT)(Length + sizeof(WCHAR));
}

static NTSTATUS SaveParametersPath(const UNICODE_STRING* RegistryPath) {
    UNICODE_STRING Suffix;
    InitCountedString(&Suffix, IPMIDEV_PARAMETERS_SUFFIX);
    const ULONG Chars = (RegistryPath->Length + Suffix.Length) / sizeof(WCHAR);
    if (Chars + 1 > IPMIDEV_MAX_PATH_CHARS) {
        return STATUS_NAME_TOO_LONG;
    }
    ULONG Out = 0;
    for (ULONG Index = 0; Index < RegistryPath->Length / sizeof(WCHAR); ++Index) {
        g_ParametersPathBuffer[Out++] = RegistryPath->Buffer[Index];
    }
    for (ULONG Index = 0; Index < Suffix.Length / sizeof(WCHAR); ++Index) {
        g_ParametersPathBuffer[Out++] = Suffix.Buffer[Index];
    }
    g_ParametersPathBuffer[Out] = L'\0';
    g_ParametersPath.Buffer = g_ParametersPathBuffer;
    g_ParametersPath.Length = (USHORT)(Out * sizeof(WCHAR));
    g_ParametersPath.MaximumLength = (USHORT)sizeof(g_ParametersPathBuffer);
    return STATUS_SUCCESS;
}

// Creates the subkey on first use so a fresh install needs no setup.
static NTSTATUS OpenParametersKey(HANDLE* Key) {
    OBJECT_ATTRIBUTES Attributes;
    InitializeObjectAttributes(&Attributes, &g_ParametersPath,
                               OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, NULL, NULL);
    return ZwCreateKey(Key, KEY_QUERY_VALUE | KEY_SET_VALUE, &Attributes, 0, NULL,
                       REG_OPTION_NON_VOLATILE, NULL);
}

// A value of another type or size counts as missing, like an absent one.
static BOOLEAN ReadDwordValue(HANDLE Key, const WCHAR* Name, ULONG* Value) {
    union {
        KEY_VALUE_PARTIAL_INFORMATION Info;
        UCHAR Space[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + sizeof(ULONG)];
    } Buffer;
    UNICODE_STRING ValueName;
    InitCountedString(&ValueName, Name);
    ULONG Returned = 0;
    const NTSTATUS Status = ZwQueryValueKey(Key, &ValueName, KeyValuePartialInformation, &Buffer,
                                            sizeof(Buffer), &Returned);
    if (!NT_SUCCESS(Status) || Buffer.Info.Type != REG_DWORD ||
        Buffer.Info.DataLength != sizeof(ULONG)) {
        return FALSE;
    }
    const UCHAR* Data = Buffer.Info.Data;
    *Value =
        (ULONG)Data[0] | ((ULONG)Data[1] << 8) | ((ULONG)Data[2] << 16) | ((ULONG)Data[3] << 24);
    return TRUE;
}

static NTSTATUS WriteValue(HANDLE Key, const WCHAR* Name, ULONG Type, const void* Data,
                           ULONG Size) {
    UNICODE_STRING ValueName;
    InitCountedString(&ValueName, Name);
    return ZwSetValueKey(Key, &ValueName, 0, Type, (PVOID)Data, Size);
}

static NTSTATUS WriteDwordValue(HANDLE Key, const WCHAR* Name, ULONG Value) {
    return WriteValue(Key, Name, REG_DWORD, &Value, sizeof(Value));
}

static void LoadState(HANDLE Key, IpmiSimState* State) {
    IpmiSimInitState(State);
    ULONG Value = 0;
    if (ReadDwordValue(Key, L"Setting", &Value)) {
        State->Setting = (uint8_t)Value;
    }
    if (ReadDwordValue(Key, L"ReplyStatus", &Value)) {
        State->ReplyStatus = (uint8_t)Value;
    }
    if (ReadDwordValue(Key, L"ReadBytes", &Value)) {
        State->ReadBytes = Value;
    }
    if (ReadDwordValue(Key, L"FailRead", &Value)) {
        State->FailReads = 1;
        State->ReadErrorCode = Value;
    }
    if (ReadDwordValue(Key, L"FailWrite", &Value)) {
        State->FailWrites = 1;
        State->WriteErrorCode = Value;
    }
    if (ReadDwordValue(Key, L"KeepSetting", &Value)) {
        State->KeepSetting = Value;
    }
}

// RequestLog keeps every request in order, so a test can check a whole
// sequence: per request the code, the output length and the count of input
// bytes kept (little-endian 32-bit each), then those bytes. A test empties
// it by deleting the value; it stops growing at its limit.
#define IPMIDEV_REQUEST_LOG_LIMIT 4096u
#define IPMIDEV_LOG_RECORD_HEADER 12u
#define IPMIDEV_LOG_INPUT_LIMIT 64u

// Used only under the request lock; too large for a kernel stack.
static union {
    KEY_VALUE_PARTIAL_INFORMATION Info;
    UCHAR Space[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + IPMIDEV_REQUEST_LOG_LIMIT];
} g_RequestLog;

static void PutLogU32(UCHAR* Bytes, ULONG Value) {
    Bytes[0] = (UCHAR)Value;
    Bytes[1] = (UCHAR)(Value >> 8);
    Bytes[2] = (UCHAR)(Value >> 16);
    Bytes[3] = (UCHAR)(Value >> 24);
}

static NTSTATUS AppendRequestLog(HANDLE Key, ULONG Code, const UCHAR* Input, ULONG InputLength,
                                 ULONG OutputLength) {
    UNICODE_STRING ValueName;
    InitCountedString(&ValueName, L"RequestLog");
    ULONG Returned = 0;
    ULONG Used = 0;
    const NTSTATUS Query = ZwQueryValueKey(Key, &ValueName, KeyValuePartialInformation,
                                           &g_RequestLog, sizeof(g_RequestLog), &Returned);
    if (NT_SUCCESS(Query) && g_RequestLog.Info.Type == REG_BINARY) {
        Used = g_RequestLog.Info.DataLength;
    } else if (Query != STATUS_OBJECT_NAME_NOT_FOUND) {
        return STATUS_SUCCESS; // full or foreign: leave it as it is
    }
    const ULONG Kept =
        InputLength < IPMIDEV_LOG_INPUT_LIMIT ? InputLength : IPMIDEV_LOG_INPUT_LIMIT;
    if (Used + IPMIDEV_LOG_RECORD_HEADER + Kept > IPMIDEV_REQUEST_LOG_LIMIT) {
        return STATUS_SUCCESS;
    }
    UCHAR* Record = g_RequestLog.Info.Data + Used;
    PutLogU32(Record, Code);
    PutLogU32(Record + 4, OutputLength);
    PutLogU32(Record + 8, Kept);
    for (ULONG Index = 0; Index < Kept; ++Index) {
        Record[IPMIDEV_LOG_RECORD_HEADER + Index] = Input[Index];
    }
    return ZwSetValueKey(Key, &ValueName, 0, REG_BINARY, g_RequestLog.Info.Data,
                         Used + IPMIDEV_LOG_RECORD_HEADER + Kept);
}

static NTSTATUS RecordRequest(HANDLE Key, ULONG Code, const void* Input, ULONG InputLength,
                              ULONG OutputLength) {
    ULONG Count = 0;
    ReadDwordValue(Key, L"RequestCount", &Count);
    NTSTATUS Status = WriteDwordValue(Key, L"RequestCount", Count + 1);
    if (NT_SUCCESS(Status)) {
        Status = WriteDwordValue(Key, L"LastCode", Code);
    }
    if (NT_SUCCESS(Status)) {
        Status = WriteValue(Key, L"LastInput", REG_BINARY, Input, InputLength);
    }
    if (NT_SUCCESS(Status)) {
        Status = WriteDwordValue(Key, L"LastOutputLength", OutputLength);
    }
    if (NT_SUCCESS(Status)) {
        Status = AppendRequestLog(Key, Code, (const UCHAR*)Input, InputLength, OutputLength);
    }
    return Status;
}

static NTSTATUS CompleteIrp(PIRP Irp, NTSTATUS Status, ULONG_PTR Information) {
    Irp->IoStatus.Status = Status;
    Irp->IoStatus.Information = Information;
    IoCompleteRequest(Irp, IO_NO_INCREMENT);
    return Status;
}

// Answers under the lock so that parallel callers cannot interleave between
// reading the state and storing the new setting or the request count.
static NTSTATUS AnswerLocked(ULONG Code, PUCHAR SystemBuffer, ULONG InputLength, ULONG OutputLength,
                             ULONG_PTR* Information) {
    HANDLE Key = NULL;
    NTSTATUS Status = OpenParametersKey(&Key);
    if (!NT_SUCCESS(Status)) {
        return Status;
    }

    // Recorded before answering: the shared buffer is overwritten by the reply.
    Status = RecordRequest(Key, Code, SystemBuffer, InputLength, OutputLength);
    if (NT_SUCCESS(Status)) {
        IpmiSimState State;
        LoadState(Key, &State);
        UCHAR Reply[IPMI_SIM_REPLY_SIZE];
        const ULONG ReplyRoom = OutputLength < sizeof(Reply) ? OutputLength : sizeof(Reply);
        IpmiSimOutcome Outcome;
        IpmiSimAnswerRequest(&State, Code, SystemBuffer, InputLength, Reply, ReplyRoom, &Outcome);
        if (Outcome.SettingStored) {
            Status = WriteDwordValue(Key, L"Setting", State.Setting);
        }
        if (NT_SUCCESS(Status) && !Outcome.Succeeded) {
            Status = MapWin32ErrorToStatus(Outcome.ErrorCode);
        }
        if (NT_SUCCESS(Status)) {
            for (ULONG Index = 0; Index < Outcome.BytesReturned; ++Index) {
                SystemBuffer[Index] = Reply[Index];
            }
            *Information = Outcome.BytesReturned;
        }
    }
    ZwClose(Key);
    return Status;
}

static NTSTATUS NTAPI DispatchDeviceControl(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    (void)DeviceObject;
    const PIO_STACK_LOCATION Stack = IoGetCurrentIrpStackLocation(Irp);
    const ULONG Code = Stack->Parameters.DeviceIoControl.IoControlCode;
    ULONG InputLength = Stack->Parameters.DeviceIoControl.InputBufferLength;
    ULONG OutputLength = Stack->Parameters.DeviceIoControl.OutputBufferLength;
    PUCHAR SystemBuffer = (PUCHAR)Irp->AssociatedIrp.SystemBuffer;
    // Only buffered requests carry their bytes in the system buffer; anything
    // else is answered as a request with no buffers, which the logic refuses.
    if ((Code & 3u) != METHOD_BUFFERED || SystemBuffer == NULL) {
        SystemBuffer = NULL;
        InputLength = 0;
        OutputLength = 0;
    }

    ULONG_PTR Information = 0;
    KeWaitForSingleObject(&g_RequestLock, Executive, KernelMode, FALSE, NULL);
    const NTSTATUS Status =
        AnswerLocked(Code, SystemBuffer, InputLength, OutputLength, &Information);
    KeReleaseMutex(&g_RequestLock, FALSE);
    return CompleteIrp(Irp, Status, Information);
}

static NTSTATUS NTAPI DispatchOpenClose(PDEVICE_OBJECT DeviceObject, PIRP Irp) {
    (void)DeviceObject;
    return CompleteIrp(Irp, STATUS_SUCCESS, 0);
}

static void NTAPI UnloadDriver(PDRIVER_OBJECT DriverObject) {
    UNICODE_STRING LinkName;
    InitCountedString(&LinkName, IPMIDEV_LINK_NAME);
    IoDeleteSymbolicLink(&LinkName);
    if (DriverObject->DeviceObject != NULL) {
        IoDeleteDevice(DriverObject->DeviceObject);
    }
}

extern "C" NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT DriverObject, PUNICODE_STRING RegistryPath) {
    NTSTATUS Status = SaveParametersPath(RegistryPath);
    if (!NT_SUCCESS(Status)) {
        return Status;
    }
    KeInitializeMutex(&g_RequestLock, 0);

    UNICODE_STRING DeviceName;
    InitCountedString(&DeviceName, IPMIDEV_DEVICE_NAME);
    PDEVICE_OBJECT Device = NULL;
    Status = IoCreateDevice(DriverObject, 0, &DeviceName, FILE_DEVICE_UNKNOWN, 0, FALSE, &Device);
    if (!NT_SUCCESS(Status)) {
        return Status;
    }
    UNICODE_STRING LinkName;
    InitCountedString(&LinkName, IPMIDEV_LINK_NAME);
    Status = IoCreateSymbolicLink(&LinkName, &DeviceName);
    if (!NT_SUCCESS(Status)) {
        IoDeleteDevice(Device);
        return Status;
    }

    DriverObject->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
    DriverObject->MajorFunction[IRP_MJ_CLEANUP] = DispatchOpenClose;
    DriverObject->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
    DriverObject->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchDeviceControl;
    DriverObject->DriverUnload = UnloadDriver;
    return STATUS_SUCCESS;
}
