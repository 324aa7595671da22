// A kernel driver for tests: creates the stream driver's control device "\Device\VlmAltStr" with
// its "\DosDevices\VlmAltStr" link, completes every control code it receives with success and
// records it, in order, for a test to read back with kFixtureQueryCodes.
#include <ntddk.h>

#include "AltStrFixture.h"

namespace {

const wchar_t kDeviceName[] = L"\\Device\\VlmAltStr";
const wchar_t kLinkName[] = L"\\DosDevices\\VlmAltStr";

// Requests may arrive on several threads of the driver host at once.
KSPIN_LOCK g_lock;
ULONG g_codes[kFixtureCodeCapacity];
ULONG g_count;

void Record(ULONG code)
{
    KIRQL previous;
    KeAcquireSpinLock(&g_lock, &previous);
    if (g_count < kFixtureCodeCapacity) {
        g_codes[g_count++] = code;
    }
    KeReleaseSpinLock(&g_lock, previous);
}

ULONG CopyCodes(void* buffer, ULONG bytes)
{
    KIRQL previous;
    KeAcquireSpinLock(&g_lock, &previous);
    ULONG count = g_count;
    if (count > bytes / sizeof(ULONG)) {
        count = bytes / sizeof(ULONG);
    }
    ULONG* out = static_cast<ULONG*>(buffer);
    for (ULONG index = 0; index < count; ++index) {
        out[index] = g_codes[index];
    }
    KeReleaseSpinLock(&g_lock, previous);
    return count * sizeof(ULONG);
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information)
{
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS OpenOrClose(PDEVICE_OBJECT, PIRP irp) { return Complete(irp, STATUS_SUCCESS, 0); }

NTSTATUS DeviceControl(PDEVICE_OBJECT, PIRP irp)
{
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    if (code == kFixtureQueryCodes) {
        const ULONG bytes = CopyCodes(irp->AssociatedIrp.SystemBuffer,
                                      stack->Parameters.DeviceIoControl.OutputBufferLength);
        return Complete(irp, STATUS_SUCCESS, bytes);
    }
    Record(code);
    return Complete(irp, STATUS_SUCCESS, 0);
}

void Unload(PDRIVER_OBJECT driver)
{
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kLinkName);
    IoDeleteSymbolicLink(&link);
    if (driver->DeviceObject != nullptr) {
        IoDeleteDevice(driver->DeviceObject);
    }
}

}  // namespace

extern "C" NTSTATUS DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING)
{
    KeInitializeSpinLock(&g_lock);
    g_count = 0;

    UNICODE_STRING device;
    RtlInitUnicodeString(&device, kDeviceName);
    PDEVICE_OBJECT created = nullptr;
    NTSTATUS status = IoCreateDevice(driver, 0, &device, FILE_DEVICE_DISK_FILE_SYSTEM, 0, FALSE,
                                     &created);
    if (!NT_SUCCESS(status)) {
        return status;
    }
    UNICODE_STRING link;
    RtlInitUnicodeString(&link, kLinkName);
    status = IoCreateSymbolicLink(&link, &device);
    if (!NT_SUCCESS(status)) {
        IoDeleteDevice(created);
        return status;
    }
    driver->MajorFunction[IRP_MJ_CREATE] = OpenOrClose;
    driver->MajorFunction[IRP_MJ_CLOSE] = OpenOrClose;
    driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DeviceControl;
    driver->DriverUnload = Unload;
    return STATUS_SUCCESS;
}
