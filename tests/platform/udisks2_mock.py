'''A UDisks2 service for the volume tests (python3-dbusmock template).

Parameters (JSON): "root" folder for mount points, "image" file that OpenDevice hands out as the
card's device, "journal" file that receives one line per action call, "ready" file written once
every object exists; "hang" (optional) a method name (Mount) that takes its call and answers only
after 3 s, as a service that has stopped answering.

Objects: a card in a USB reader (sdb1, mounted), a second card whose volume is busy (sdd1,
mounted), a card in a built-in SDIO slot (mmcblk0p1, not mounted, 4 GiB), the system disk (sda1),
a fixed data disk (nvme0n1p1), and a USB reader without a card (sdc, with a stale file system).
Besides the properties the volumes read, each object carries some of the other kinds that a real
UDisks2 sends (lists of texts, structures, dictionaries, signed numbers), which must be passed over.
'''

import os
import time

import dbus
import dbusmock.mockobject

BUS_NAME = 'org.freedesktop.UDisks2'
MAIN_OBJ = '/org/freedesktop/UDisks2'
MAIN_IFACE = 'org.freedesktop.UDisks2.Manager'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

BLOCK = 'org.freedesktop.UDisks2.Block'
FILESYSTEM = 'org.freedesktop.UDisks2.Filesystem'
PARTITION = 'org.freedesktop.UDisks2.Partition'
DRIVE = 'org.freedesktop.UDisks2.Drive'

MIB = 1024 * 1024


def byte_string(text):
    return dbus.ByteArray(text.encode() + b'\0')


def mount_points(point):
    return dbus.Array([byte_string(point)] if point else [], signature='ay')


def load(mock, parameters):
    root = parameters['root']
    journal = parameters['journal']

    def record(obj, method, options, extra=''):
        line = obj.path.rsplit('/', 1)[-1] + ' ' + method + extra
        if options.get('auth.no_user_interaction', False):
            line += ' forbidden'
        if 'flags' in options:
            line += f" flags={int(options['flags'])}"
        with open(journal, 'a', encoding='utf-8') as out:
            out.write(line + '\n')

    def mount(self, options):
        record(self, 'Mount', options)
        if parameters.get('hang') == 'Mount':
            time.sleep(3)
        os.makedirs(self.mount_target, exist_ok=True)
        self.props[FILESYSTEM]['MountPoints'] = mount_points(self.mount_target)
        return self.mount_target

    def unmount(self, options):
        record(self, 'Unmount', options)
        if self.busy:
            raise dbus.exceptions.DBusException(
                'Error unmounting: target is busy', name='org.freedesktop.UDisks2.Error.DeviceBusy')
        self.props[FILESYSTEM]['MountPoints'] = mount_points(None)

    def open_device(self, mode, options):
        record(self, 'OpenDevice', options, ' ' + str(mode))
        fd = os.open(parameters['image'], os.O_RDWR)
        try:
            return dbus.types.UnixFd(fd)
        finally:
            os.close(fd)

    def rescan(self, options):
        record(self, 'Rescan', options)

    def eject(self, options):
        record(self, 'Eject', options)
        self.props[DRIVE]['MediaAvailable'] = dbus.Boolean(False)

    def add_drive(name, removable, bus, available, ejectable):
        path = MAIN_OBJ + '/drives/' + name
        mock.AddObject(path, DRIVE, {
            'Removable': dbus.Boolean(removable),
            'MediaRemovable': dbus.Boolean(removable),
            'MediaAvailable': dbus.Boolean(available),
            'Ejectable': dbus.Boolean(ejectable),
            'ConnectionBus': dbus.String(bus),
            'MediaCompatibility': dbus.Array(['flash_sd', 'flash_mmc'], signature='s'),
            'Configuration': dbus.Dictionary({'ata-pm-standby': dbus.Int32(0)}, signature='sv'),
            'RotationRate': dbus.Int32(-1),
            'TimeDetected': dbus.UInt64(1700000000000000),
        }, [('Eject', 'a{sv}', '', eject)])
        return path

    def add_block(name, drive, size, label, mounted_at=None, mount_target=None, system=False,
                  offset=None, busy=False):
        path = MAIN_OBJ + '/block_devices/' + name
        mock.AddObject(path, BLOCK, {
            'Device': byte_string('/dev/' + name),
            'Drive': dbus.ObjectPath(drive),
            'Size': dbus.UInt64(size),
            'IdUsage': dbus.String('filesystem'),
            'IdType': dbus.String('vfat'),
            'IdVersion': dbus.String('FAT16'),
            'IdLabel': dbus.String(label),
            'HintSystem': dbus.Boolean(system),
            'HintIgnore': dbus.Boolean(False),
            'Symlinks': dbus.Array([byte_string('/dev/disk/by-label/' + label)], signature='ay'),
            'Configuration': dbus.Array(
                [('fstab', {'dir': byte_string('/mnt/' + label)})], signature='(sa{sv})'),
            'UserspaceMountOptions': dbus.Array([], signature='s'),
            'CryptoBackingDevice': dbus.ObjectPath('/'),
        }, [('OpenDevice', 'sa{sv}', 'h', open_device), ('Rescan', 'a{sv}', '', rescan)])
        obj = dbusmock.mockobject.objects[path]
        obj.AddProperties(FILESYSTEM, {'MountPoints': mount_points(mounted_at)})
        obj.AddMethods(FILESYSTEM, [('Mount', 'a{sv}', 's', mount),
                                    ('Unmount', 'a{sv}', '', unmount)])
        if offset is not None:
            obj.AddProperties(PARTITION, {'Offset': dbus.UInt64(offset)})
        obj.mount_target = mount_target or mounted_at or os.path.join(root, 'media', label)
        obj.busy = busy

    reader = add_drive('Card_Reader', True, 'usb', True, True)
    add_block('sdb1', reader, os.path.getsize(parameters['image']), 'REC',
              mounted_at=os.path.join(root, 'media', 'REC'), offset=4 * MIB)
    busy_reader = add_drive('Busy_Reader', True, 'usb', True, True)
    add_block('sdd1', busy_reader, 256 * MIB, 'REC2',
              mounted_at=os.path.join(root, 'media', 'REC2'), offset=MIB, busy=True)
    slot = add_drive('Sdio_Slot', False, 'sdio', True, False)
    add_block('mmcblk0p1', slot, 4096 * MIB, 'BIG', offset=4 * MIB)
    system_disk = add_drive('System_Disk', False, '', True, False)
    add_block('sda1', system_disk, 100000 * MIB, 'SYSTEM', mounted_at='/', system=True,
              offset=MIB)
    data_disk = add_drive('Data_Disk', False, '', True, False)
    add_block('nvme0n1p1', data_disk, 50000 * MIB, 'DATA',
              mounted_at=os.path.join(root, 'data'), offset=MIB)
    empty_reader = add_drive('Empty_Reader', True, 'usb', False, True)
    add_block('sdc', empty_reader, 0, 'STALE')

    with open(parameters['ready'], 'w', encoding='utf-8') as out:
        out.write('ready\n')
