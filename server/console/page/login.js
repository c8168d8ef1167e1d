// The login form: posts the name and password as JSON; the session cookie
// comes back HttpOnly, and the console page takes over.
'use strict';

document.addEventListener('DOMContentLoaded', () => {
  const form = document.getElementById('login-form');
  const button = document.getElementById('login-button');
  const error = document.getElementById('login-error');

  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    error.hidden = true;
    button.disabled = true;
    try {
      const response = await fetch('/api/login', {
        method: 'POST',
        headers: {'Content-Type': 'application/json'},
        credentials: 'same-origin',
        body: JSON.stringify({
          name: document.getElementById('login-name').value,
          password: document.getElementById('login-password').value,
        }),
      });
      if (response.ok) {
        window.location.href = '/';
        return;
      }
      let message = '登录失败（' + response.status + '）';
      try {
        const body = await response.json();
        if (body && typeof body.error === 'string') message = body.error;
      } catch (ignored) {
        // not JSON: keep the status text
      }
      error.textContent = message;
      error.hidden = false;
    } catch (failure) {
      error.textContent = '无法连接服务器';
      error.hidden = false;
    } finally {
      button.disabled = false;
    }
  });
});
