"""An upgrade end to end: one that fails gives back the earlier installation, one that was killed is
given back or finished by the next run, and files in use or programs still running are replaced when
Windows starts again."""
import contextlib
import hashlib
import ntpath
import os
import shutil
import subprocess
import time
import unittest

from test_binary import STRINGS, readme_exit_statuses
from test_extraction import (FULL_LOG, JOURNALS, LOG, WORK, failure_message, fixture_icons, log_messages,
                             put_earlier_installation, sample_members, small_disk, snapshot, tree_state)
from winetest import FIXTURES, WINE, Prefix, _env, _wine, exit_status, launcher, stop_server


class FailedUpgrade(unittest.TestCase):
    """An upgrade that cannot be completed gives back the earlier installation, every file as it was, with
    no work file left, and writes nothing through a link in the installation."""

    def test_each_failure_gives_back_the_earlier_installation(self):
        earlier_entries = len(sample_members()) + 2
        protected = "C:\\windows\\protected"

        def link_plugins(top, target):
            shutil.rmtree(os.path.join(top, "Plugins"))
            os.symlink(target, os.path.join(top, "Plugins"))

        def link_member(top, target):
            os.unlink(os.path.join(top, "gl_about.txt"))
            os.symlink(os.path.join(target, "system.dll"), os.path.join(top, "gl_about.txt"))

        def read_only(top, _):
            subprocess.run(["mount", "-o", "remount,ro", os.path.dirname(top)], check=True)

        # The last column: the steps the full log names (besides what it tells and the outcome); a step
        # that the run did not reach must not be named.
        refused = "refused: Plugins is a link or of the other kind (file or folder)"
        cases = [
            # Nothing can be written in the folder: never reported complete.
            ("nothing can be written", "size=16m", read_only, []),
            # The members do not fit beside the installed ones: refused before anything is written.
            ("too little space", "size=320k", None, []),
            # Room enough, but too few files: the staging fails in the middle.
            ("too few files", "nr_inodes=%d" % (earlier_entries + 12), None, ["staging"]),
            # On drive C:, so that a move through the link would reach the protected files.
            ("plug-ins folder a link", None, link_plugins, ["staging", refused, "switch-over refused"]),
            ("member a link", None, link_member, ["staging", "switch-over", "link refused: gl_about.txt",
                                                  "rollback", "switch-over failed",
                                                  "rollback done: the previous installation is back"]),
        ]
        with Prefix("win7") as p:
            p.put_file(protected + "\\system.dll", b"protected")
            for what, options, plant, steps in cases:
                with self.subTest(what), (small_disk(self, p, options) if options else
                                          contextlib.nullcontext(p.host("C:\\"))) as disk:
                    top = os.path.join(disk, "Glimmerly")
                    shutil.rmtree(top, ignore_errors=True)
                    put_earlier_installation(top)
                    if plant:
                        plant(top, p.host(protected))
                    before, kept, touched = tree_state(top), snapshot(p, protected), os.stat(top).st_mtime_ns
                    for log in [LOG, FULL_LOG]:
                        if p.exists(log):
                            os.unlink(p.host(log))
                    folder = ("T:" if options else "C:") + "\\Glimmerly\\"
                    self.assertEqual(p.run("/silent /folder=" + folder + " /log=full.log", cwd=WORK).status, 1603)
                    if what == "too little space":  # refused before the work folder was made
                        self.assertEqual(os.stat(top).st_mtime_ns, touched)
                    self.assertEqual(log_messages(p.read_bytes(LOG)), [failure_message(folder)])
                    self.check_full_log(p.read_bytes(FULL_LOG).decode("utf-8"), folder, steps)
                    self.assertEqual(tree_state(top), before)
                    self.assertEqual(snapshot(p, protected), kept)
                    if not options:
                        os.unlink(os.path.join(top, "Plugins" if plant is link_plugins else "gl_about.txt"))


    def check_full_log(self, text, folder, steps):
        texts = [line[24:] for line in text.split("\r\n")[:-1]]
        self.assertEqual(texts[-2:], ["told: %s (%s)" % (STRINGS[7].replace("\n", " "), folder),
                                      "outcome: exit status 1603 (%s)" % dict(readme_exit_statuses())[1603]])
        texts = texts[:-2]
        # A label alone stands for the line that begins the step.
        begins = {"staging": "staging ", "switch-over": "switch-over: ", "rollback": "rollback of "}
        for label, begin in begins.items():
            self.assertEqual(any(t.startswith(begin) for t in texts), label in steps, label)
        for line in steps:
            self.assertTrue(line in texts or line in begins, line)
        # Whatever the two threads of the switch-over reached, every file it replaced is given back.
        replaced = sorted(t[len("file replaced: "):] for t in texts if t.startswith("file replaced: "))
        self.assertEqual(sorted(t[len("given back: "):] for t in texts if t.startswith("given back: ")), replaced)
        self.assertFalse([t for t in texts if t.startswith("not given back: ")])


class InterruptedUpgrade(unittest.TestCase):
    def test_the_next_run_gives_back_what_a_killed_one_moved_and_installs(self):
        sample = dict((info.filename, data) for info, data in sample_members())
        newer = fixture_icons("icons_431.dll")
        with Prefix("win7") as p:
            p.put_file("C:\\Glimmerly\\Plugins\\Icons.dll", newer)
            kept_time = os.stat(p.host("C:\\Glimmerly\\Plugins\\Icons.dll")).st_mtime
            self.assertEqual(p.run("/silent /folder=C:\\Glimmerly", cwd=WORK).status, 0)
            # Where a run killed during its switch-over leaves the files: the viewer replaced, the icons
            # library moved aside but not yet replaced.
            top = p.host("C:\\Glimmerly")
            work = os.path.join(top, "~glimmerly-setup")
            for folder in ["new/Plugins", "old/Plugins"]:
                os.makedirs(os.path.join(work, folder))
            os.rename(os.path.join(top, "gl_main32.exe"), os.path.join(work, "old", "gl_main32.exe"))
            p.put_file("C:\\Glimmerly\\gl_main32.exe", b"a later viewer")
            os.rename(os.path.join(top, "Plugins", "Icons.dll"), os.path.join(work, "old", "Plugins", "Icons.dll"))
            p.put_file("C:\\Glimmerly\\~glimmerly-setup\\new\\Plugins\\Icons.dll", b"a later library")
            journal = "R 00000020 gl_main32.exe\nR 00000020 Plugins\\Icons.dll\n".encode("utf-16-le")
            p.put_file("C:\\Glimmerly\\~glimmerly-setup\\switch.log", journal)
            # As the killed run recorded its journal before the switch-over.
            p.set_value("system", JOURNALS, "C:\\Glimmerly",
                        "~glimmerly-setup|" + hashlib.sha256(journal).hexdigest())

            run = p.run("/silent /folder=C:\\Glimmerly", cwd=WORK)
            self.assertEqual(run.status, 0, run.stderr[-3000:].decode("utf-8", "replace"))
            self.assertFalse(p.exists(LOG))
            # Of the work folders only this run's is left, with the previous version's folders in it.
            self.assertEqual(work_folder_entries(p), [["old", "switch.done"]])
            self.assertEqual(p.read_bytes("C:\\Glimmerly\\gl_main32.exe"), sample["gl_main32.exe"])
            # The library is back before the keep-icons rule reads it, so the newer one stays.
            self.assertEqual(p.read_bytes("C:\\Glimmerly\\Plugins\\Icons.dll"), newer)
            self.assertEqual(os.stat(p.host("C:\\Glimmerly\\Plugins\\Icons.dll")).st_mtime, kept_time)
            self.assertNotIn("~glimmerly-setup|" + hashlib.sha256(journal).hexdigest(),
                             (p.key("system", JOURNALS) or {}).values())

    def test_a_journal_the_setup_did_not_record_is_not_carried_out(self):
        """Another user plants a work folder whose journal would move his files through a link into a
        protected folder: the run leaves them, says so, and installs."""
        protected = "C:\\windows\\protected"
        with Prefix("win7") as p:
            p.put_file(protected + "\\victim.dll", b"protected")
            top = p.host("C:\\Glimmerly")
            os.makedirs(top)
            os.symlink(p.host(protected), os.path.join(top, "sub"))
            for name in ["planted.dll", "victim.dll"]:
                p.put_file("C:\\Glimmerly\\~glimmerly-setup\\old\\sub\\" + name, b"the user's")
            journal = "R 00000000 sub\\planted.dll\nR 00000007 sub\\victim.dll\n"
            p.put_file("C:\\Glimmerly\\~glimmerly-setup\\switch.log", journal.encode("utf-16-le"))
            kept = snapshot(p, protected)
            self.assertEqual(p.run("/silent /folder=C:\\Glimmerly", cwd=WORK).status, 0)
            self.assertEqual(snapshot(p, protected), kept)
            self.assertEqual(log_messages(p.read_bytes(LOG)),
                             [("C:\\Glimmerly\\: " + STRINGS[26]).encode("latin-1")])
            self.assertFalse(os.path.exists(os.path.join(top, "~glimmerly-setup")))
            self.assertTrue(p.exists("C:\\Glimmerly\\gl_main32.exe"))


class FileInUse(unittest.TestCase):
    def test_a_file_held_open_is_replaced_when_windows_starts_again(self):
        sample = dict((info.filename, data) for info, data in sample_members())
        held = "C:\\Glimmerly\\gl_about.txt"
        with Prefix("win7") as p:
            p.run("/silent /folder=C:\\Glimmerly", cwd=WORK)
            p.put_file(held, b"earlier about")
            p.start(held + " 120 C:\\held", exe=os.path.join(FIXTURES, "hold_file.exe"))
            for _ in range(300):
                if p.exists("C:\\held"):
                    break
                time.sleep(0.1)
            # Programs the run starts live on with the holder: no output is waited for.
            run = p.start("/silent /folder=C:\\Glimmerly /log=full.log", cwd=WORK)
            run.wait(timeout=120)
            self.assertEqual(exit_status(run.stdout.readline()), 3010)
            steps = [line[24:] for line in p.read_bytes(FULL_LOG).decode("utf-8").split("\r\n")]
            self.assertEqual([t for t in steps if t.startswith("file left for the restart")],
                             ["file left for the restart (held open): gl_about.txt"])
            self.assertEqual(steps[-2:], ["outcome: exit status 3010 (%s)" % dict(readme_exit_statuses())[3010], ""])
            self.assertEqual(log_messages(p.read_bytes(LOG)), [(held + ": " + STRINGS[12]).encode("latin-1")])
            self.assertEqual(p.read_bytes(held), b"earlier about")
            self.assertEqual(p.read_bytes("C:\\Glimmerly\\gl_options.txt"), sample["gl_options.txt"])
            self.assertEqual(work_folder_entries(p), [["old", "switch.done"]])
            stop_server(p.path)
            with open(os.path.join(p.path, "system.reg"), encoding="utf-8") as handle:
                queue = [line for line in handle if line.startswith('"PendingFileRenameOperations"=')]
            self.assertEqual(len(queue), 1)
            self.assertIn(r"gl_about.txt~glimmerly-new\0!\\??\\C:\\Glimmerly\\gl_about.txt\0", queue[0])
            # The holder ended with the server; Windows starting again carries out the queue.
            _wine(p.path, "wineboot", "-r")
            stop_server(p.path)
            self.assertEqual(p.read_bytes(held), sample["gl_about.txt"])
            self.assertFalse(p.exists(held + "~glimmerly-new"))


    def start(self, p, program, arguments, marker):
        """Starts a program of the prefix in the background, in its own folder as Windows programs are
        started (the system holds that folder while it runs), and waits until it made marker."""
        env = _env(p.path, {"GLIMMERLY_COMMAND_LINE": '"%s" %s' % (program, arguments),
                            "GLIMMERLY_NO_WAIT": "1"}, p.arch)
        proc = subprocess.Popen([WINE, launcher()], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                cwd=p.host(ntpath.dirname(program)))
        p._background.append(proc)
        proc.wait(timeout=60)
        for _ in range(300):
            if p.exists(marker):
                break
            time.sleep(0.1)
        os.unlink(p.host(marker))

    def hold(self, p, path):
        if not p.exists("C:\\hold_file.exe"):
            p.put_file("C:\\hold_file.exe", fixture_bytes("hold_file.exe"))
        self.start(p, "C:\\hold_file.exe", path + " 120 C:\\held", "C:\\held")

    def queue(self, p):
        """The steps queued for the next start of Windows, asked of the running system: a new server would
        start Windows again and carry them out."""
        key = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager"
        out = _wine(p.path, "reg", "query", key, "/v", "PendingFileRenameOperations", check=False).stdout
        return [line.strip() for line in out.decode("latin-1").splitlines() if "PendingFileRename" in line]

    def install(self, p):
        """Programs the run starts live on with a holder: no output is waited for, only the status."""
        run = p.start("/silent /folder=C:\\Glimmerly", cwd=WORK)
        run.wait(timeout=120)
        return exit_status(run.stdout.readline())

    def test_an_earlier_queued_replacement_is_taken_over_or_given_back(self):
        sample = dict((info.filename, data) for info, data in sample_members())
        held = "C:\\Glimmerly\\gl_about.txt"
        beside = held + "~glimmerly-new"
        with Prefix("win7") as p:
            p.run("/silent /folder=C:\\Glimmerly", cwd=WORK)
            p.put_file(held, b"earlier about")
            self.hold(p, held)
            self.assertEqual(self.install(p), 3010)
            p.put_file(beside, b"queued about")  # as a payload of other bytes would have left it
            queued = self.queue(p)
            self.assertEqual(len(queued), 1)

            # A second installation fails while the file is still held: the earlier replacement and its
            # queued step are back as they were, and the restart carries them out.
            os.unlink(p.host("C:\\Glimmerly\\gl_options.txt"))
            os.symlink(p.host("C:\\windows\\win.ini"), p.host("C:\\Glimmerly\\gl_options.txt"))
            self.assertEqual(self.install(p), 1603)
            self.assertEqual(self.queue(p), queued)
            self.assertEqual(p.read_bytes(beside), b"queued about")
            os.unlink(p.host("C:\\Glimmerly\\gl_options.txt"))
            stop_server(p.path)
            _wine(p.path, "wineboot", "-r")
            self.assertEqual(p.read_bytes(held), b"queued about")

            # Queued again, then the holder ends and a second installation completes: its file wins now
            # and after the restart, and no replacement is left.
            self.hold(p, held)
            self.assertEqual(self.install(p), 3010)
            p.put_file(beside, b"queued about")
            _wine(p.path, "taskkill", "/f", "/im", "hold_file.exe", check=False)
            os.unlink(p.host(LOG))
            self.assertEqual(self.install(p), 0)
            self.assertFalse(p.exists(beside))
            self.assertFalse(p.exists(LOG))
            stop_server(p.path)
            _wine(p.path, "wineboot", "-r")
            self.assertEqual(p.read_bytes(held), sample["gl_about.txt"])

    def test_a_running_program_of_the_installation_is_removed_at_the_restart(self):
        sample = dict((info.filename, data) for info, data in sample_members())
        program = "C:\\Glimmerly\\Plugins\\Converter.exe"
        with Prefix("win7") as p:
            p.run("/silent /folder=C:\\Glimmerly", cwd=WORK)
            p.put_file(program, fixture_bytes("hold_file.exe"))
            p.put_file("C:\\other.txt", b"")
            self.start(p, program, "C:\\other.txt 120 C:\\running", "C:\\running")
            # The old program keeps running until the restart: the run says so, and queues its file alone.
            self.assertEqual(self.install(p), 3010)
            self.assertEqual([(q.count("~glimmerly-setup"), "\\Plugins\\Converter.exe" in q) for q in self.queue(p)],
                             [(1, True)])
            self.assertEqual(log_messages(p.read_bytes(LOG)), [(program + ": " + STRINGS[12]).encode("latin-1")])
            self.assertEqual(p.read_bytes(program), sample["Plugins/Converter.exe"])
            # The next run installs normally while it still runs.
            os.unlink(p.host(LOG))
            self.assertEqual(self.install(p), 0)
            self.assertFalse(p.exists(LOG))
            earlier = work_folders(p)
            stop_server(p.path)
            _wine(p.path, "wineboot", "-r")
            self.assertEqual(self.install(p), 0)
            # What the earlier runs left is gone; the last run keeps only the previous version's folders,
            # which it moved aside whole, for the next run. (Its work folder may take the usual name again:
            # the earlier one's removal, with only a file left to delete, can be done before it is made.)
            self.assertTrue(earlier)
            self.assertEqual(len(work_folders(p)), 1)
            self.assertEqual(work_folder_entries(p), [["old", "switch.done"]])
            self.assertFalse(p.exists(LOG), "what is left of a finished switch-over is no stranger's")


def work_folders(p):
    return sorted(name for name in os.listdir(p.host("C:\\Glimmerly")) if name.startswith("~glimmerly-setup"))


def work_folder_entries(p):
    """What each work folder in C:\\Glimmerly holds."""
    return [sorted(os.listdir(p.host("C:\\Glimmerly\\" + name))) for name in work_folders(p)]


def fixture_bytes(name):
    with open(os.path.join(FIXTURES, name), "rb") as handle:
        return handle.read()
