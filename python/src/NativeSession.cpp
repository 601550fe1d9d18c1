#include "NativeSession.h"

#include <pybind11/pybind11.h>
#include <string.h>

#include "Errors.h"

namespace clusterpy {

void Wipe(std::string& secret) {
    if (!secret.empty()) explicit_bzero(&secret[0], secret.size());
    secret.clear();
}

NativeSession::NativeSession(const Credentials& credentials, clusterwalk::JobOptions options)
    : m_options(options),
      m_credentials(credentials),
      m_job(std::make_shared<clusterwalk::CJob>(options)),
      m_session(new clusterwalk::CResilientSession(m_job, m_credentials.url, m_credentials.user,
                                                   m_credentials.password)) {}

void NativeSession::Connect() {
    std::lock_guard<std::mutex> lock(m_mutex);
    ThrowIfClosed();
    ThrowIfError(m_session->Connect());
}

void NativeSession::Run(clusterwalk::RequestKind kind,
                        const std::function<CZuError(clusterwalk::CResilientSession&)>& call) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ThrowIfClosed();
    clusterwalk::CResilientSession& session = *m_session;
    ThrowIfError(session.Run(kind, [&] { return call(session); }));
}

void NativeSession::Locked(const std::function<void(clusterwalk::CResilientSession&)>& use) {
    std::lock_guard<std::mutex> lock(m_mutex);
    ThrowIfClosed();
    use(*m_session);
}

void NativeSession::Release(const std::function<void()>& release) {
    std::lock_guard<std::mutex> lock(m_mutex);
    release();
}

std::shared_ptr<clusterwalk::CJob> NativeSession::NewJob() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    ThrowIfClosed();
    return std::make_shared<clusterwalk::CJob>(m_options);
}

Credentials NativeSession::CopyCredentials() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    ThrowIfClosed();
    return m_credentials;
}

void NativeSession::Close() {
    m_job->Cancel();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_closed = true;
    Wipe(m_credentials.password);
}

void NativeSession::ThrowIfClosed() const {
    if (m_closed) throw pybind11::value_error("the session is closed");
}

}  // namespace clusterpy
