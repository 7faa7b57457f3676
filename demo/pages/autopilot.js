// @ts-check
// Plays a user's part on the demo pages for the end-to-end test: signs up,
// logs in and downloads, reporting each step to the demo server.
(function () {
  function report(step) {
    fetch('/demo/autopilot?step=' + step);
  }

  function whenReady(test, then) {
    if (test())
      then();
    else
      setTimeout(function () { whenReady(test, then); }, 100);
  }

  var signup = document.getElementById('signup');
  if (signup) {
    whenReady(function () { return window.zx; }, function () {
      signup.querySelector('button').click();
      report('signed-up');
    });
    return;
  }

  if (!document.body.dataset.user) {
    /** @type {HTMLFormElement} */ (document.getElementById('login-form')).submit();
    return;
  }

  report('logged-in');
  whenReady(function () { return window.zx && document.getElementById('download').onclick; }, function () {
    document.getElementById('download').click();
    whenReady(function () { return document.getElementById('download-result').textContent; }, function () {
      report('downloaded:' + encodeURIComponent(document.getElementById('download-result').textContent));
    });
  });
})();
