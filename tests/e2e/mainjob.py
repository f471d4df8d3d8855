"""The main job: the built setup program installs into a scratch prefix that stays for inspection, and
what it left behind is reported."""
import os
import shutil
import subprocess
import sys

from hivefile import parse_reg, set_reg_value
from winetest import SETUP_EXE, TEMPLATE, WINE, _env, ensure_template, exit_status, launcher, stop_server


def main_job(switches, screenshots=None):
    """An installation into a scratch prefix that stays for inspection, and a report of it. With a
    display the wizard opens there for the user to click through; without one the installation runs
    silently and, with screenshots set, the wizard's pages are captured under Xvfb into that folder."""
    interactive = bool(os.environ.get("DISPLAY"))
    switches = switches or ["/desktop=1", "/group=1", "/thumbs=1", "/assoc=1"]
    ensure_template()
    scratch = os.path.join(os.path.dirname(TEMPLATE), "main-prefix")
    stop_server(scratch)
    shutil.rmtree(scratch, ignore_errors=True)
    subprocess.run(["cp", "-a", TEMPLATE, scratch], check=True)
    work = os.path.join(scratch, "drive_c", "work")
    os.makedirs(work, exist_ok=True)
    shutil.copy(SETUP_EXE, work)
    command = [WINE, "C:\\work\\" + os.path.basename(SETUP_EXE)]
    if interactive:
        set_reg_value(os.path.join(scratch, "user.reg"), r"Software\\Wine\\Drivers", "Graphics", "x11")
        print("running the wizard in", scratch, "on display", os.environ["DISPLAY"])
        subprocess.run(command, env=_env(scratch, {"DISPLAY": os.environ["DISPLAY"]}), cwd=work, check=False)
    else:
        command += ["/silent", *switches]
        print("running:", " ".join(command[1:]), "in", scratch)
        # Through the launcher, which reports the whole exit status (Wine's own keeps its low byte).
        full = '"C:\\work\\%s" %s' % (os.path.basename(SETUP_EXE), " ".join(command[2:]))
        run = subprocess.run([WINE, launcher()], env=_env(scratch, {"GLIMMERLY_COMMAND_LINE": full}), cwd=work,
                             stdout=subprocess.PIPE, check=False)
        print("exit status:", exit_status(run.stdout), "(the README's table says what it means)")
    report(scratch, work)
    if screenshots and not interactive:
        import screens
        print("screenshots of the wizard's pages (Xvfb, 96 dpi):")
        for path in screens.capture_pages(screenshots):
            print("  " + path)


def report(scratch, work):
    """Where the installation went, what it holds, and the install log."""
    stop_server(scratch)
    classes = parse_reg(os.path.join(scratch, "system.reg"))
    command_value = classes.get(r"software\classes\glimmerly\shell\open\command", {}).get("", "")
    print("registered open command:", command_value or "(none)")
    folder = command_value.split('"')[1].rsplit("\\", 1)[0] if command_value.startswith('"') else ""
    if not folder:
        program_files = classes.get(r"software\microsoft\windows\currentversion", {}).get("ProgramFilesDir", "")
        folder = program_files + "\\Glimmerly"
    if folder:
        host = os.path.join(scratch, "drive_c", folder[3:].replace("\\", "/"))
        print("installed into", folder)
        for base, dirs, files in os.walk(host):
            dirs.sort()
            for name in sorted(files):
                path = os.path.join(base, name)
                print("  %9d  %s" % (os.path.getsize(path), os.path.relpath(path, host)))
    log = os.path.join(work, "Glimmerly_Install.log")
    if os.path.exists(log):
        print("install log:")
        print(open(log, "rb").read().decode("latin-1"))
    else:
        print("install log: none (no failure)")


if __name__ == "__main__":
    main_job(sys.argv[1:], os.environ.get("GLIMMERLY_SCREENSHOTS"))
