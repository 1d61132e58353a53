'''A desktop portal for the portal tests (a python3-dbusmock template).

It speaks the real interfaces at the real names: GlobalShortcuts,
RemoteDesktop, their Request and Session objects, and, when the parameter
"registry" is true, the host application registry. Every method that starts
a request answers with its handle first and emits Response a moment later,
as xdg-desktop-portal does. The test steers it and reads what it saw through
the control interface below.

Parameters (JSON): registry (bool), globalshortcuts (bool, default true),
remotedesktop (bool, default true), device_types (the RemoteDesktop
devices offered, default 7: keyboard, pointer, touch), remote_version (RemoteDesktop's version,
default 2), no_trigger (bool: shortcuts are bound without a trigger), bind_answers_empty (bool: BindShortcuts
answers without the shortcuts, as some desktops do).
'''

import dbus
import dbus.service
from gi.repository import GLib

import dbusmock

BUS_NAME = 'org.freedesktop.portal.Desktop'
MAIN_OBJ = '/org/freedesktop/portal/desktop'
MAIN_IFACE = 'org.freedesktop.portal.Desktop'
SYSTEM_BUS = False

SHORTCUTS = 'org.freedesktop.portal.GlobalShortcuts'
REMOTE = 'org.freedesktop.portal.RemoteDesktop'
REQUEST = 'org.freedesktop.portal.Request'
SESSION = 'org.freedesktop.portal.Session'
REGISTRY = 'org.freedesktop.host.portal.Registry'
CONTROL = 'com.vostel.quillant.Test.PortalMock'

# What the test asked for and what the mock saw.
state = {
    'responses': {},   # 'Interface.Method' -> response code for every call
    'silent': set(),   # methods that never answer
    'log': [],
    'tokens': 0,
    'sessions': {},    # session path -> {'kind', 'sender', 'shortcuts'}
    'registered': {},  # sender -> app id
}


def log(line):
    state['log'].append(line)


def sender_part(sender):
    return sender[1:].replace('.', '_')


def request(mock, sender, options, method, results_fn):
    '''Publishes a Request object, answers with its path and emits Response later.'''
    token = str(options.get('handle_token', 'anon'))
    path = f'/org/freedesktop/portal/desktop/request/{sender_part(sender)}/{token}'
    if path not in dbusmock.get_objects():
        mock.AddObject(path, REQUEST, {}, [('Close', '', '', 'self.on_close()')])
        obj = dbusmock.get_object(path)

        def close_request():
            log(f'Request.Close {method}')
            state['silent'].discard(method)
        obj.on_close = close_request
    if method in state['silent']:
        log(f'{method} silent')
        return dbus.ObjectPath(path)
    code = int(state['responses'].get(method, 0))

    def respond():
        results = results_fn() if code == 0 else {}
        obj = dbusmock.get_object(path)
        obj.EmitSignalDetailed(REQUEST, 'Response', 'ua{sv}', [dbus.UInt32(code), dbus.Dictionary(results, signature='sv')],
                               {'destination': sender, 'path': path})
        return False

    GLib.timeout_add(5, respond)
    return dbus.ObjectPath(path)


def new_session(mock, sender, options, kind):
    token = str(options.get('session_handle_token', 'session'))
    path = f'/org/freedesktop/portal/desktop/session/{sender_part(sender)}/{token}'
    state['sessions'][path] = {'kind': kind, 'sender': sender, 'shortcuts': []}
    if path not in dbusmock.get_objects():
        mock.AddObject(path, SESSION, {'version': dbus.UInt32(1)}, [('Close', '', '', 'self.on_close()')])
    obj = dbusmock.get_object(path)

    def close():
        log(f'Session.Close {kind}')
        state['sessions'].pop(path, None)
    obj.on_close = close
    return path


def load(mock, parameters):
    mock.methods[REMOTE]['CreateSession'] = mock.methods[REMOTE].pop('CreateRemoteSession')
    if parameters.get('globalshortcuts', True):
        mock.AddProperties(SHORTCUTS, {'version': dbus.UInt32(1)})
    if parameters.get('remotedesktop', True):
        mock.AddProperties(REMOTE, {'version': dbus.UInt32(parameters.get('remote_version', 2)),
                                    'AvailableDeviceTypes': dbus.UInt32(parameters.get('device_types', 7))})
    state['registry'] = bool(parameters.get('registry', False))
    state['bind_answers_empty'] = bool(parameters.get('bind_answers_empty', False))
    state['no_trigger'] = bool(parameters.get('no_trigger', False))
    state['globalshortcuts'] = bool(parameters.get('globalshortcuts', True))
    state['remotedesktop'] = bool(parameters.get('remotedesktop', True))


def require(flag, interface):
    if not state[flag]:
        raise dbus.exceptions.DBusException(f'No such interface “{interface}”',
                                            name='org.freedesktop.DBus.Error.UnknownMethod')


# --- host registry ---------------------------------------------------------

@dbus.service.method(REGISTRY, in_signature='sa{sv}', out_signature='', sender_keyword='sender')
def Register(self, app_id, options, sender=None):
    if not state['registry']:
        raise dbus.exceptions.DBusException('No such interface', name='org.freedesktop.DBus.Error.UnknownMethod')
    if sender in state['registered']:
        raise dbus.exceptions.DBusException('Connection already associated with an application ID',
                                            name='org.freedesktop.portal.Error.Failed')
    state['registered'][sender] = app_id
    log(f'Register {app_id}')


# --- GlobalShortcuts -------------------------------------------------------

@dbus.service.method(SHORTCUTS, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateSession(self, options, sender=None):
    require('globalshortcuts', SHORTCUTS)
    log(f'GlobalShortcuts.CreateSession app={state["registered"].get(sender, "")}')
    def results():
        return {'session_handle': dbus.String(new_session(self, sender, options, 'shortcuts'))}

    return request(self, sender, options, 'GlobalShortcuts.CreateSession', results)


def shortcut_list(session):
    return dbus.Array([dbus.Struct((sid, dbus.Dictionary(props, signature='sv')))
                       for sid, props in session['shortcuts']], signature='(sa{sv})')


@dbus.service.method(SHORTCUTS, in_signature='oa(sa{sv})sa{sv}', out_signature='o', sender_keyword='sender')
def BindShortcuts(self, session_handle, shortcuts, parent_window, options, sender=None):
    session = state['sessions'].get(str(session_handle))
    bound = []
    for sid, props in shortcuts:
        trigger = str(props.get('preferred_trigger', ''))
        log(f'BindShortcuts {sid} description={props.get("description", "")} preferred_trigger={trigger}')
        # The desktop writes triggers its own way; the mock as GNOME does.
        shown = trigger.replace('ALT', 'Alt').replace('SHIFT', 'Shift').replace('CTRL', 'Ctrl')
        if shown and shown[-1].islower():
            shown = shown[:-1] + shown[-1].upper()
        if state['no_trigger']:  # as Plasma 5.27 did: bound, the trigger left to the user
            shown = ''
        bound.append((str(sid), {'description': dbus.String(props.get('description', '')),
                                 'trigger_description': dbus.String(shown)}))

    def results():
        if session is not None:
            session['shortcuts'] = bound
        if state['bind_answers_empty']:
            return {}
        return {'shortcuts': shortcut_list({'shortcuts': bound})}

    return request(self, sender, options, 'GlobalShortcuts.BindShortcuts', results)


@dbus.service.method(SHORTCUTS, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def ListShortcuts(self, session_handle, options, sender=None):
    log('ListShortcuts')
    session = state['sessions'].get(str(session_handle), {'shortcuts': []})
    return request(self, sender, options, 'GlobalShortcuts.ListShortcuts',
                   lambda: {'shortcuts': shortcut_list(session)})


# --- RemoteDesktop ---------------------------------------------------------

# Both portals have a CreateSession; a template names its methods by their
# Python names, so this one is renamed in load().
@dbus.service.method(REMOTE, in_signature='a{sv}', out_signature='o', sender_keyword='sender')
def CreateRemoteSession(self, options, sender=None):
    require('remotedesktop', REMOTE)
    log(f'RemoteDesktop.CreateSession app={state["registered"].get(sender, "")}')

    def results():
        return {'session_handle': dbus.String(new_session(self, sender, options, 'remote'))}

    return request(self, sender, options, 'RemoteDesktop.CreateSession', results)


@dbus.service.method(REMOTE, in_signature='oa{sv}', out_signature='o', sender_keyword='sender')
def SelectDevices(self, session_handle, options, sender=None):
    log(f'SelectDevices types={int(options.get("types", 0))} persist_mode={int(options.get("persist_mode", 0))} '
        f'restore_token={options.get("restore_token", "")}')
    state['selected_persist'] = int(options.get('persist_mode', 0))
    return request(self, sender, options, 'RemoteDesktop.SelectDevices', lambda: {})


@dbus.service.method(REMOTE, in_signature='osa{sv}', out_signature='o', sender_keyword='sender')
def Start(self, session_handle, parent_window, options, sender=None):
    log('Start')

    def results():
        out = {'devices': dbus.UInt32(1)}
        if state.get('selected_persist', 0):
            state['tokens'] += 1
            out['restore_token'] = dbus.String(f'restore-{state["tokens"]}')
        return out

    return request(self, sender, options, 'RemoteDesktop.Start', results)


@dbus.service.method(REMOTE, in_signature='oa{sv}iu', out_signature='')
def NotifyKeyboardKeycode(self, session_handle, options, keycode, state_):
    if str(session_handle) not in state['sessions']:
        raise dbus.exceptions.DBusException('Invalid session', name='org.freedesktop.portal.Error.InvalidArgument')
    fail_if_asked(int(keycode), int(state_))
    log(f'keycode {int(keycode)} {int(state_)}')


@dbus.service.method(REMOTE, in_signature='oa{sv}iu', out_signature='')
def NotifyKeyboardKeysym(self, session_handle, options, keysym, state_):
    if str(session_handle) not in state['sessions']:
        raise dbus.exceptions.DBusException('Invalid session', name='org.freedesktop.portal.Error.InvalidArgument')
    fail_if_asked(int(keysym), int(state_))
    log(f'keysym {int(keysym)} {int(state_)}')


def fail_if_asked(code, pressed):
    if pressed and code in state.get('failing', set()):
        raise dbus.exceptions.DBusException('The device refused the key', name='org.freedesktop.portal.Error.Failed')


# --- control ---------------------------------------------------------------

@dbus.service.method(CONTROL, in_signature='su', out_signature='')
def SetResponse(self, method, code):
    state['responses'][str(method)] = int(code)


@dbus.service.method(CONTROL, in_signature='s', out_signature='')
def SetSilent(self, method):
    state['silent'].add(str(method))


@dbus.service.method(CONTROL, in_signature='', out_signature='as')
def GetLog(self):
    return dbus.Array(state['log'], signature='s')


@dbus.service.method(CONTROL, in_signature='sb', out_signature='')
def EmitShortcut(self, shortcut_id, pressed):
    for path, session in state['sessions'].items():
        if session['kind'] != 'shortcuts':
            continue
        self.EmitSignalDetailed(SHORTCUTS, 'Activated' if pressed else 'Deactivated', 'osta{sv}',
                                [dbus.ObjectPath(path), shortcut_id, dbus.UInt64(1000), dbus.Dictionary({}, signature='sv')],
                                {'destination': session['sender']})


@dbus.service.method(CONTROL, in_signature='ss', out_signature='')
def ChangeTrigger(self, shortcut_id, shown):
    for path, session in state['sessions'].items():
        if session['kind'] != 'shortcuts':
            continue
        session['shortcuts'] = [(sid, dict(props, trigger_description=dbus.String(shown)) if sid == shortcut_id else props)
                                for sid, props in session['shortcuts']]
        self.EmitSignalDetailed(SHORTCUTS, 'ShortcutsChanged', 'oa(sa{sv})', [dbus.ObjectPath(path), shortcut_list(session)],
                                {'destination': session['sender']})


@dbus.service.method(CONTROL, in_signature='s', out_signature='')
def CloseSessions(self, kind):
    '''The desktop ends the sessions of one kind (the user revoked them).'''
    for path in [p for p, s in state['sessions'].items() if s['kind'] == kind]:
        obj = dbusmock.get_object(path)
        obj.EmitSignalDetailed(SESSION, 'Closed', 'a{sv}', [dbus.Dictionary({}, signature='sv')],
                               {'destination': state['sessions'][path]['sender'], 'path': path})
        state['sessions'].pop(path, None)
        log(f'closed {kind}')


@dbus.service.method(CONTROL, in_signature='i', out_signature='')
def FailPress(self, code):
    '''Presses of this keycode or keysym fail from now on.'''
    state.setdefault('failing', set()).add(int(code))
